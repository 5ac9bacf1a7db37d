// The resolution of a script path to the directory that holds its entry,
// with names found without regard to case, and what the file system learns
// and keeps of directories while it works: listings and the case index.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/Text.h"
#include "platform/posix/WindowsView.h"

namespace posix {

using namespace fs;

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

std::wstring WindowsView::Resolved::DriveForm() const {
  std::wstring out;
  out.reserve(shown.size() + 1);
  // A NUL is shown, not written: a message must not be cut at it.
  for (wchar_t c : shown) {
    if (c == L'\0')
      out += L"<NUL>";
    else
      out.push_back(c);
  }
  if (root) out.push_back(L'\\');
  return out;
}

WindowsView::WindowsView() : prefix_(PrefixDir()) {
  umask_ = ::umask(0);
  ::umask(umask_);
  std::string cwd;
  if (char* p = ::getcwd(nullptr, 0); p != nullptr) {
    cwd = p;
    std::free(p);
  }
  // The working directory is Z:'s current directory; its directories are
  // opened when they are first needed.
  std::wstring text = L"Z:";
  const std::wstring w = text::FromUtf8(cwd);
  std::size_t pos = 0;
  while (pos < w.size()) {
    std::size_t next = w.find(L'/', pos);
    if (next == std::wstring::npos) next = w.size();
    if (next > pos) {
      text.push_back(L'\\');
      text.append(w, pos, next - pos);
    }
    pos = next + 1;
  }
  PushLevels(CwdChain(L'Z'), LevelsOf(text, 2));
}


namespace {

// A name that a path may hold as it is: one component that resolution
// would not change (no separator, no trailing dot or space, no NUL).
bool PlainName(std::wstring_view name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
  for (wchar_t c : name)
    if (c == L'\\' || c == L'/' || c == L'\0') return false;
  return true;
}

}  // namespace

bool WindowsView::NearChain(const std::wstring& path, Near* near) {
  // The calls of a tree operation name the current directory, or an entry
  // in it by its bare name or its full path, or an entry of the directory
  // they copy into; those are recognised without being parsed.
  if (!HasDrive(path)) {
    if (!PlainName(path) || path == L"..") return false;
    *near = Near{&CwdChain(currentDrive_), currentDrive_, false, path};
    return true;
  }
  if (path.size() < 3 || path[2] != L'\\') return false;
  const wchar_t drive = UpperLetter(path[0]);
  auto matches = [&](Chain& c) {
    const std::size_t n = c.text.size();
    if (c.drive != drive || c.levels.empty() || path.size() < n ||
        std::wmemcmp(path.data() + 2, c.text.data() + 2, n - 2) != 0)
      return false;
    if (path.size() == n) {
      *near = Near{&c, drive, true, {}};
      return true;
    }
    if (path[n] != L'\\') return false;
    const std::wstring_view name(path.data() + n + 1, path.size() - n - 1);
    if (!PlainName(name) || name == L"..") return false;
    *near = Near{&c, drive, false, name};
    return true;
  };
  if (auto it = cwd_.find(drive); it != cwd_.end() && matches(it->second)) return true;
  for (Chain& c : spare_) {
    if (matches(c)) {
      c.lastUse = ++uses_;
      return true;
    }
  }
  return false;
}

WindowsView::Resolved WindowsView::Resolve(const std::wstring& path) {
  Resolved r;
  if (Near near; NearChain(path, &near)) {
    Chain& c = *near.chain;
    DriveRoot(near.drive);  // a drive that does not exist fails here
    Trim();
    r.drive = near.drive;
    const std::size_t last = c.levels.size() - 1;
    if (near.self) {
      // The current directory, as an entry of its parent.
      r.dir = LevelDir(c, last - 1);
      r.shown = c.shown;
      r.nameStart = c.levels[last - 1].shownEnd + 1;
      r.name = c.levels[last].host;
    } else {
      r.dir = LevelDir(c, last);
      r.shown.reserve(c.shown.size() + 1 + near.name.size());
      r.shown = c.shown;
      r.shown.push_back(L'\\');
      r.nameStart = r.shown.size();
      r.shown += near.name;
      r.name = text::ToUtf8(near.name);
    }
    if (!r.dir) r.dirErr = errno;
    return r;
  }
  std::wstring text;
  r.invalid = !ParsePath(path, &r.drive, &text);
  const std::size_t sep = text.size() > 2 ? text.rfind(L'\\') : std::wstring::npos;
  if (r.invalid) {
    // The operating system would read the path only up to a NUL and reach
    // another file: such a path names nothing and reaches nothing.
    r.root = sep == std::wstring::npos;
    r.nameStart = r.root ? text.size() : sep + 1;
    r.shown = std::move(text);
    return r;
  }
  Trim();
  if (sep == std::wstring::npos) {
    r.root = true;
    r.shown = std::move(text);
    r.nameStart = r.shown.size();
    r.name = ".";
    r.dir = LevelDir(CwdChain(r.drive), 0);
    if (!r.dir) r.dirErr = errno;
    return r;
  }
  auto [chain, level] = ChainFor(r.drive, std::wstring_view(text).substr(0, sep));
  r.dir = LevelDir(*chain, level);
  if (!r.dir) r.dirErr = errno;
  const std::size_t shownEnd = chain->levels[level].shownEnd;
  r.shown.reserve(shownEnd + text.size() - sep);
  r.shown.assign(chain->shown, 0, shownEnd);
  r.shown.push_back(L'\\');
  r.nameStart = r.shown.size();
  r.shown.append(text, sep + 1);
  r.name = text::ToUtf8(std::wstring_view(text).substr(sep + 1));
  return r;
}

namespace {

// The status of `name` in the directory `dirFd`, without following a link
// (whose target's mode is noted as well).
bool StatAt(int dirFd, const char* name, mode_t* mode, mode_t* target, dev_t* dev, ino_t* ino, off_t* size) {
  struct stat st;
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  *mode = st.st_mode;
  *dev = st.st_dev;
  *ino = st.st_ino;
  *size = st.st_size;
  *target = 0;
  if (S_ISLNK(st.st_mode)) {
    struct stat to;
    if (::fstatat(dirFd, name, &to, 0) == 0) *target = to.st_mode;
  }
  return true;
}

}  // namespace

bool WindowsView::StatEntry(int dirFd, const char* name, Status* st) {
  return StatAt(dirFd, name, &st->mode, &st->target, &st->dev, &st->ino, &st->size);
}

void WindowsView::Stat(Resolved& r) {
  r.exists = false;
  if (r.invalid || !r.dir) return;
  if (Listing* listing = ListingOf(r.dir)) {
    if (const Status* known = listing->Lookup(r.name)) {
      r.st = *known;
      r.exists = true;
      return;
    }
  }
  if (StatEntry(r.dir->fd, r.name.c_str(), &r.st)) {
    r.exists = true;
    return;
  }
  if (errno != ENOENT || r.root) return;
  const std::wstring found = LookupNoCase(r.dir, r.LastName());
  if (found.empty() || found == r.LastName()) return;
  r.shown.resize(r.nameStart);
  r.shown += found;
  r.name = text::ToUtf8(found);
  r.exists = StatEntry(r.dir->fd, r.name.c_str(), &r.st);
}

bool WindowsView::ExistsNoCase(Resolved& r) {
  r.exists = false;
  if (r.invalid || !r.dir) return false;
  if (r.root) {
    Stat(r);
    return r.exists;
  }
  if (Listing* listing = ListingOf(r.dir)) {
    if (const Status* known = listing->Lookup(r.name)) {
      r.st = *known;
      return r.exists = true;
    }
  }
  const std::wstring found = LookupNoCase(r.dir, r.LastName());
  if (found.empty()) return false;
  // With several spellings on disk the one written wins.
  if (found != r.LastName() && StatEntry(r.dir->fd, r.name.c_str(), &r.st)) return r.exists = true;
  r.shown.resize(r.nameStart);
  r.shown += found;
  r.name = text::ToUtf8(found);
  return r.exists = StatEntry(r.dir->fd, r.name.c_str(), &r.st);
}

namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

void WindowsView::DirIndex::Seen(const struct stat& st) {
  mtime = st.st_mtim;
  ctime = st.st_ctim;
  size = st.st_size;
  nlink = st.st_nlink;
}

bool WindowsView::DirIndex::Unchanged(const struct stat& st) const {
  return SameTime(mtime, st.st_mtim) && SameTime(ctime, st.st_ctim) && size == st.st_size && nlink == st.st_nlink;
}

namespace {

// The key of a name in the case index: its folded form in UTF-8, made
// without the table for ASCII.
std::string IndexKey(std::wstring_view name) {
  std::string key(name.size(), '\0');
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<std::uint32_t>(name[i]);
    if (c >= 0x80) return text::ToUtf8(text::Fold(name));
    key[i] = static_cast<char>(c - (c - U'a' < 26 ? 0x20 : 0));
  }
  return key;
}

// The same for a name as read from a directory.
std::string IndexKey(const char* name) {
  std::string key(name);
  for (char& b : key) {
    const auto c = static_cast<unsigned char>(b);
    if (c >= 0x80) return IndexKey(text::FromUtf8(name));
    b = static_cast<char>(c - (static_cast<unsigned>(c) - 'a' < 26u ? 0x20 : 0));
  }
  return key;
}

}  // namespace

std::wstring WindowsView::LookupNoCase(const DirRef& dir, const std::wstring& name) {
  struct stat st;
  if (::fstat(dir->fd, &st) != 0) return {};
  auto it = dirIndex_.find(dir->id);
  if (it == dirIndex_.end() || !it->second.Unchanged(st)) {
    if (dirIndex_.size() > 256) dirIndex_.clear();
    DirIndex idx;
    idx.Seen(st);
    Fd own;
    if (const int fd = ReadFd(*dir, &own); fd >= 0) {
      DirReader reader(fd);
      while (const struct dirent64* e = reader.Next()) {
        if (IsDotOrDotDot(e->d_name)) continue;
        idx.Add(IndexKey(e->d_name), text::FromUtf8(e->d_name));
      }
    }
    it = dirIndex_.insert_or_assign(dir->id, std::move(idx)).first;
  }
  auto match = it->second.bySpelling.find(IndexKey(name));
  return match == it->second.bySpelling.end() ? std::wstring() : text::FromUtf8(match->second);
}

void WindowsView::DirIndex::Add(std::string key, const std::wstring& name) {
  // Of several spellings of one name, the first in name order is found.
  auto [slot, added] = bySpelling.emplace(std::move(key), std::string());
  several = several || !added;
  if (added || NameLess(name, text::FromUtf8(slot->second))) slot->second = text::ToUtf8(name);
}

WindowsView::Listing* WindowsView::ListingOf(const DirRef& dir) {
  if (listings_.empty()) return nullptr;
  auto it = listings_.find(dir->id);
  return it == listings_.end() ? nullptr : &it->second;
}

std::size_t WindowsView::Listing::IndexOf(const std::string& name) {
  // The calls on one entry come together, and the entries one after the
  // other: the entry asked for last, or the one after it.
  if (last < entries.size() && entries[last].first == name) return last;
  if (last + 1 < entries.size() && entries[last + 1].first == name) return ++last;
  if (byName.empty()) {
    byName.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) byName.emplace(entries[i].first, i);
  }
  auto it = byName.find(name);
  if (it == byName.end()) return std::string::npos;
  return last = it->second;
}

WindowsView::Status* WindowsView::Listing::Lookup(const std::string& name) {
  const std::size_t i = IndexOf(name);
  // A forgotten entry has no mode.
  return i != std::string::npos && entries[i].second.mode != 0 ? &entries[i].second : nullptr;
}

void WindowsView::Listing::Erase(const std::string& name) {
  // The entry is forgotten, not removed: the positions stay as they are.
  if (const std::size_t i = IndexOf(name); i != std::string::npos) entries[i].second.mode = 0;
}

void WindowsView::NoteCreated(const Resolved& r) {
  if (!r.dir) return;
  if (Listing* listing = ListingOf(r.dir)) listing->Erase(r.name);
  auto it = dirIndex_.find(r.dir->id);
  if (it == dirIndex_.end()) return;
  // The index takes the new name and the directory's status after it, so
  // that the next lookup finds it unchanged unless someone else changed it.
  struct stat st;
  if (::fstat(r.dir->fd, &st) != 0) {
    dirIndex_.erase(it);
    return;
  }
  const std::wstring name = r.LastName();
  it->second.Add(IndexKey(name), name);
  it->second.Seen(st);
}

void WindowsView::NoteChanged(const Resolved& r) {
  if (!r.dir) return;
  if (Listing* listing = ListingOf(r.dir)) listing->Erase(r.name);
}

void WindowsView::NoteRemoved(const Resolved& r, bool directory) {
  if (!r.dir) return;
  const Status* known = nullptr;
  Listing* listing = ListingOf(r.dir);
  if (listing != nullptr) known = listing->Lookup(r.name);
  if (directory) {
    // A directory held open may have been this one: the one whose identity
    // a listing told is marked; otherwise every one held open is asked. Its
    // inode number may come back for a new directory.
    ++removals_;
    if (known != nullptr && S_ISDIR(known->mode) && removedIds_.size() < 4096) {
      removedIds_[DirId{known->dev, known->ino}] = removals_;
    } else {
      blindRemoval_ = removals_;
      removedIds_.clear();
    }
    dirIndex_.clear();
  } else if (auto it = dirIndex_.find(r.dir->id); it != dirIndex_.end()) {
    // The index loses the name and takes the directory's status after the
    // removal, so that a walk deleting or moving many files does not read
    // the directory again for each.
    struct stat st;
    auto key = it->second.bySpelling.find(IndexKey(r.LastName()));
    if (it->second.several || ::fstat(r.dir->fd, &st) != 0) {
      dirIndex_.erase(it);
    } else {
      if (key != it->second.bySpelling.end()) it->second.bySpelling.erase(key);
      it->second.Seen(st);
    }
  }
  if (listing != nullptr) listing->Erase(r.name);
}

std::string WindowsView::HostOf(const Resolved& r) {
  std::string host = DriveRoot(r.drive);
  if (r.root) return host;
  std::string below = text::ToUtf8(std::wstring_view(r.shown).substr(2));
  std::replace(below.begin(), below.end(), '\\', '/');
  if (host == "/") return below;
  return host + below;
}

std::wstring WindowsView::FullPath(const std::wstring& path) {
  Resolved r = Resolve(path);
  Stat(r);
  return r.DriveForm();
}

std::string WindowsView::HostPath(const std::wstring& path) {
  Resolved r = Resolve(path);
  if (r.invalid) throw VslError(L"Cannot use the path " + r.DriveForm() + L": " + kInvalidName);
  Stat(r);
  return HostOf(r);
}

bool WindowsView::SamePlace(const std::wstring& a, const std::wstring& b) {
  Resolved x = Resolve(a);
  Stat(x);
  Resolved y = Resolve(b);
  Stat(y);
  return !x.invalid && !y.invalid && HostOf(x) == HostOf(y);
}

bool WindowsView::SameFile(const std::wstring& a, const std::wstring& b) {
  // Links are followed: the files themselves are compared.
  auto identity = [this](const std::wstring& path, struct stat* st) {
    Resolved r = Resolve(path);
    Stat(r);
    return r.exists && ::fstatat(r.dir->fd, r.name.c_str(), st, 0) == 0;
  };
  struct stat sx {}, sy {};
  if (!identity(a, &sx) || !identity(b, &sy)) return false;
  return sx.st_dev == sy.st_dev && sx.st_ino == sy.st_ino;
}

}  // namespace posix
