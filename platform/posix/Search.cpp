// Directory searches in the manner of FindFirstFile and FindNextFile, with
// Windows wildcard rules, and the attributes of entries.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/Text.h"
#include "platform/posix/WindowsView.h"
#include "platform/posix/Support.h"

namespace posix {

using namespace fs;
using platform::FindEntry;

namespace {

using platform::path::IsComponentName;

bool HasWildcards(const std::wstring& s) { return s.find_first_of(L"*?") != std::wstring::npos; }

// '*' matches any run of characters, '?' one character, both without regard
// to case. As on Windows, '?' also matches nothing before a dot or at the
// end of the name ("abc?.txt" matches "abc.txt", "ab??" matches "ab").
bool Glob(const std::wstring& p, const std::wstring& n) {
  // can[j]: the pattern from position i on matches the name from j on,
  // computed for i from the end of the pattern backwards.
  const std::size_t np = p.size(), nn = n.size();
  std::vector<char> can(nn + 1, 0), next(nn + 1, 0);
  next[nn] = 1;  // the empty pattern matches only the empty rest
  for (std::size_t i = np; i-- > 0;) {
    for (std::size_t j = nn + 1; j-- > 0;) {
      bool m = false;
      if (p[i] == L'*') {
        m = next[j] || (j < nn && can[j + 1]);
      } else if (p[i] == L'?') {
        m = (j < nn && next[j + 1]) || ((j == nn || n[j] == L'.') && next[j]);
      } else {
        m = j < nn && text::FoldKey(p[i]) == text::FoldKey(n[j]) && next[j + 1];
      }
      can[j] = m ? 1 : 0;
    }
    std::swap(can, next);
  }
  return next[0] != 0;
}

// Wildcard matching with the Windows rules on top of Glob: a pattern ending
// in ".*" also matches the names that the part before it matches ("*.*"
// matches "README"), and one ending in "." matches names without a dot.
bool WildMatch(const std::wstring& p, const std::wstring& n) {
  if (Glob(p, n)) return true;
  if (p.size() >= 2 && p.compare(p.size() - 2, 2, L".*") == 0 && Glob(p.substr(0, p.size() - 2), n)) return true;
  if (p.size() >= 2 && p.back() == L'.' && n.find(L'.') == std::wstring::npos &&
      Glob(p.substr(0, p.size() - 1), n))
    return true;
  return false;
}

// The attributes of an entry from its status. A symbolic link carries the
// reparse-point bit and the attributes of what it points to (`target`, its
// mode, 0 for a broken link): a link to a directory is a directory as well,
// so that paths through it work; the tree operations look at the
// reparse-point bit and never enter it.
std::uint32_t AttributesOf(mode_t mode, mode_t target, const std::wstring& name, bool isRoot) {
  std::uint32_t a = 0;
  mode_t seen = mode;
  if (S_ISLNK(mode)) {
    a |= platform::kAttrReparsePoint;
    seen = target;
  }
  if (seen != 0 && S_ISDIR(seen)) a |= platform::kAttrDirectory;
  else a |= platform::kAttrArchive;
  if (seen != 0 && (seen & S_IWUSR) == 0) a |= platform::kAttrReadOnly;
  if (!isRoot && !name.empty() && name[0] == L'.') a |= platform::kAttrHidden;
  return a;
}

}  // namespace

// ---------------------------------------------------------------------------
// Searching and attributes
// ---------------------------------------------------------------------------

std::vector<FindEntry> WindowsView::Find(const std::wstring& pattern) {
  std::wstring dirPart, last;
  if (!platform::path::SplitSearch(pattern, &dirPart, &last)) return {};
  return FindIn(dirPart, last, false);
}

std::vector<FindEntry> WindowsView::FindOrFail(const std::wstring& pattern) {
  std::wstring dirPart, last;
  if (!platform::path::SplitSearch(pattern, &dirPart, &last))
    throw VslError(L"Cannot list " + Resolve(pattern).DriveForm() + L": " + kInvalidName);
  return FindIn(dirPart, last, true);
}

std::vector<FindEntry> WindowsView::FindIn(const std::wstring& dirPart, const std::wstring& last, bool strict) {
  std::vector<FindEntry> out;
  if (!HasWildcards(last)) {
    Resolved r = Resolve(dirPart + last);
    if (strict && !r.dir) RaiseErrno(r.dirErr, L"Cannot list the directory of " + r.DriveForm());
    if (last == L"." || last == L"..") {
      // The directory itself, or its parent, with the attributes of the
      // directory it names.
      struct stat st;
      if (r.dir && ::fstatat(r.dir->fd, r.name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode))
        out.push_back({last, AttributesOf(st.st_mode, 0, r.root ? L"" : r.LastName(), r.root)});
      return out;
    }
    if (r.root) return out;
    Stat(r);
    if (!r.exists || !IsComponentName(r.LastName())) return out;
    out.push_back({r.LastName(), AttributesOf(r.st.mode, r.st.target, r.LastName(), false)});
    return out;
  }

  wchar_t drive = L'Z';
  std::wstring text;
  if (!ParsePath(dirPart, &drive, &text)) {
    if (strict) throw VslError(L"Cannot list the directory " + text + L": " + kInvalidName);
    return out;
  }
  Trim();
  auto [chain, level] = ChainFor(drive, text);
  // A directory that cannot be reached or read lists nothing; for a tree
  // operation that is a failure of its own.
  auto unlisted = [&, chain = chain, level = level](int err) {
    if (!strict) return;
    std::wstring shown = chain->shown.substr(0, chain->levels[level].shownEnd);
    if (level == 0) shown.push_back(L'\\');
    RaiseErrno(err, L"Cannot list the directory " + shown);
  };
  DirRef dir = LevelDir(*chain, level);
  if (!dir) {
    unlisted(errno);
    return out;
  }
  Fd own;
  const int fd = ReadFd(*dir, &own);
  if (fd < 0) {
    unlisted(errno);
    return out;
  }

  // What is learnt of every entry is kept for the calls on the entries that
  // follow (a tree operation deletes or copies what it listed), in the
  // order in which the entries are handed out.
  struct Found {
    FindEntry entry;
    std::string host;
    Status st;
  };
  std::vector<Found> found;
  const bool all = last == L"*" || last == L"*.*";
  DirReader reader(fd);
  while (const struct dirent64* e = reader.Next()) {
    if (IsDotOrDotDot(e->d_name)) continue;
    std::wstring name = text::FromUtf8(e->d_name);
    if (!IsComponentName(name) || !(all || WildMatch(last, name))) continue;
    Status st;
    if (!StatEntry(fd, e->d_name, &st)) continue;  // gone meanwhile
    const std::uint32_t attributes = AttributesOf(st.mode, st.target, name, false);
    found.push_back({{std::move(name), attributes}, e->d_name, st});
  }
  // Sorted by position, so that the entries themselves move only once.
  std::vector<std::uint32_t> order(found.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&found](std::uint32_t a, std::uint32_t b) { return NameLess(found[a].entry.name, found[b].entry.name); });

  const bool dots = level > 0;
  out.reserve(found.size() + (dots ? 2 : 0));
  if (dots) {
    if (WildMatch(last, L"."))
      out.push_back({L".", AttributesOf(ModeOf(*dir), 0, chain->levels[level].name, false)});
    if (WildMatch(last, L"..")) {
      if (DirRef parent = LevelDir(*chain, level - 1)) {
        const bool parentIsRoot = level == 1;
        out.push_back({L"..", AttributesOf(ModeOf(*parent), 0, parentIsRoot ? L"" : chain->levels[level - 1].name,
                                           parentIsRoot)});
      }
    }
  }
  Listing listing;
  listing.entries.reserve(found.size());
  for (std::uint32_t i : order) {
    listing.entries.emplace_back(std::move(found[i].host), found[i].st);
    out.push_back(std::move(found[i].entry));
  }
  listings_.insert_or_assign(dir->id, std::move(listing));
  return out;
}

bool WindowsView::IsRegularFile(const std::wstring& path) {
  Resolved r = Resolve(path);
  Stat(r);
  return r.exists && S_ISREG(r.st.mode);
}

std::uint32_t WindowsView::GetAttributes(const std::wstring& path) {
  Resolved r = Resolve(path);
  Stat(r);
  if (!r.exists) return platform::kInvalidAttributes;
  return AttributesOf(r.st.mode, r.st.target, r.root ? L"" : r.LastName(), r.root);
}

void WindowsView::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot set the attributes of ");
  Stat(r);
  if (!r.exists) RaiseErrno(ENOENT, L"Cannot set the attributes of " + r.DriveForm());
  if (S_ISLNK(r.st.mode)) return;  // a link has no mode bits of its own
  const mode_t mode = r.st.mode & 07777;
  const mode_t wanted = (attributes & platform::kAttrReadOnly) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
  if (wanted == mode) return;
  if (::fchmodat(r.dir->fd, r.name.c_str(), wanted, 0) != 0)
    RaiseLastErrno([&] { return L"Cannot set the attributes of " + r.DriveForm(); });
  if (S_ISDIR(r.st.mode)) ++dirModeChanges_;  // it may be held open
  // A listing that holds the entry learns its new mode.
  if (Listing* listing = ListingOf(r.dir)) {
    if (Status* known = listing->Lookup(r.name)) known->mode = (known->mode & ~07777) | wanted;
  }
}

}  // namespace posix
