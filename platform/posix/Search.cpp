// Directory searches in the manner of FindFirstFile and FindNextFile, with
// Windows wildcard rules, and the attributes of entries.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Support.h"

namespace posix {

using namespace fs;
using platform::FindEntry;

namespace {

// Can a name found on disk be spelt as one component of a script path? A
// name holding a backslash or ':' would be split or read as a drive, and one that
// ends in a dot or a space (all-dot names such as "..." among them) loses
// those characters when a path is resolved, so it would name another entry,
// often the directory itself or its parent. Such entries are left out of
// every search, so that no operation walking a tree can be led outside it.
bool IsComponentName(const std::wstring& name) {
  if (name.empty() || name.find_first_of(L"\\:") != std::wstring::npos) return false;
  return name.back() != L'.' && name.back() != L' ';
}

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

// The attributes of an entry from its lstat. A symbolic link carries the
// reparse-point bit and the attributes of what it points to (`target`, the
// followed status, null for a broken link): a link to a directory is a
// directory as well, so that paths through it work; the tree operations
// look at the reparse-point bit and never enter it.
std::uint32_t AttributesOf(const struct stat& st, const struct stat* target, const std::wstring& name, bool isRoot) {
  std::uint32_t a = 0;
  const struct stat* seen = &st;
  if (S_ISLNK(st.st_mode)) {
    a |= platform::kAttrReparsePoint;
    seen = target;
  }
  if (seen != nullptr && S_ISDIR(seen->st_mode)) a |= platform::kAttrDirectory;
  else a |= platform::kAttrArchive;
  if (seen != nullptr && (seen->st_mode & S_IWUSR) == 0) a |= platform::kAttrReadOnly;
  if (!isRoot && !name.empty() && name[0] == L'.') a |= platform::kAttrHidden;
  return a;
}

// The same for a host path: a link is followed to find its target's kind.
std::uint32_t AttributesAt(const std::string& host, const struct stat& st, const std::wstring& name, bool isRoot) {
  struct stat target;
  const bool linked = S_ISLNK(st.st_mode) && ::stat(host.c_str(), &target) == 0;
  return AttributesOf(st, linked ? &target : nullptr, name, isRoot);
}


// Splits a pattern into the part that names the directory (possibly "",

}  // namespace

// ---------------------------------------------------------------------------
// Searching and attributes
// ---------------------------------------------------------------------------

std::vector<FindEntry> PosixFileSystem::Find(const std::wstring& pattern) {
  if (pattern.empty() || HasNul(pattern)) return {};
  std::wstring dirPart, last;
  SplitLast(pattern, &dirPart, &last);
  if (last.empty()) {
    if (dirPart.empty() || !IsSep(dirPart.back())) return {};  // a bare "C:"
    last = L"*";
  }
  return FindIn(dirPart, last);
}

std::vector<FindEntry> PosixFileSystem::FindIn(const std::wstring& dirPart, const std::wstring& last) {
  std::vector<FindEntry> out;
  if (!HasWildcards(last)) {
    Resolved r = Resolve(dirPart + last);
    struct stat st;
    if (last == L"." || last == L"..") {
      if (::stat(r.host.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        out.push_back({last, AttributesOf(st, nullptr, r.comps.empty() ? L"" : r.comps.back(), r.comps.empty())});
      return out;
    }
    if (r.comps.empty() || !r.exists || !IsComponentName(r.comps.back())) return out;
    out.push_back({r.comps.back(), AttributesAt(r.host, r.st, r.comps.back(), false)});
    return out;
  }

  Resolved r = Resolve(dirPart);
  Dir d(r.host);
  if (d.Get() == nullptr) return out;
  const int dfd = ::dirfd(d.Get());
  while (dirent* e = ::readdir(d.Get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::wstring name = text::FromUtf8(e->d_name);
    if (!IsComponentName(name) || !WildMatch(last, name)) continue;
    struct stat st;
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    struct stat target;
    const bool linked = S_ISLNK(st.st_mode) && ::fstatat(dfd, e->d_name, &target, 0) == 0;
    std::uint32_t attributes = AttributesOf(st, linked ? &target : nullptr, name, false);
    out.push_back({std::move(name), attributes});
  }
  std::sort(out.begin(), out.end(), [](const FindEntry& a, const FindEntry& b) { return NameLess(a.name, b.name); });

  if (!r.comps.empty()) {
    std::vector<FindEntry> dots;
    struct stat st;
    if (WildMatch(last, L".") && ::stat(r.host.c_str(), &st) == 0)
      dots.push_back({L".", AttributesOf(st, nullptr, r.comps.back(), false)});
    if (WildMatch(last, L"..") && ::stat(r.HostParent().c_str(), &st) == 0) {
      bool parentIsRoot = r.comps.size() == 1;
      dots.push_back({L"..", AttributesOf(st, nullptr, parentIsRoot ? L"" : r.comps[r.comps.size() - 2], parentIsRoot)});
    }
    out.insert(out.begin(), dots.begin(), dots.end());
  }
  return out;
}

std::uint32_t PosixFileSystem::GetAttributes(const std::wstring& path) {
  Resolved r = Resolve(path);
  if (!r.exists) return platform::kInvalidAttributes;
  return AttributesAt(r.host, r.st, r.comps.empty() ? L"" : r.comps.back(), r.comps.empty());
}

void PosixFileSystem::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot set the attributes of " + r.DriveForm());
  if (!r.exists) RaiseErrno(ENOENT, L"Cannot set the attributes of " + r.DriveForm());
  const struct stat& st = r.st;
  if (S_ISLNK(st.st_mode)) return;  // a link has no mode bits of its own
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = (attributes & platform::kAttrReadOnly) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
  if (wanted != mode && ::chmod(r.host.c_str(), wanted) != 0) {
    const int err = errno;
    RaiseErrno(err, L"Cannot set the attributes of " + r.DriveForm());
  }
}

}  // namespace posix
