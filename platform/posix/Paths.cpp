// The file system's paths: the prefix and its drives, the current
// directory of every drive, and the resolution of a script path to a host
// path with names found without regard to case.
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/Text.h"
#include "platform/posix/WindowsView.h"
#include "platform/posix/Support.h"

namespace posix {

namespace fs {

std::string JoinHost(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Case-insensitive name order, ties broken by the exact spelling so that the
// order is total.
bool NameLess(const std::wstring& a, const std::wstring& b) {
  int c = text::CompareNoCase(a, b);
  return c < 0 || (c == 0 && a < b);
}

}  // namespace fs

using namespace fs;

namespace {

void MkdirAll(const std::string& path) {
  std::string cur;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    cur = path.substr(0, next);
    pos = next + 1;
    if (cur.empty()) continue;
    if (::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) {
      const int err = errno;
      RaiseErrno(err, L"Cannot create the directory " + text::FromUtf8(cur));
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// The prefix
// ---------------------------------------------------------------------------

std::string PrefixDir() {
  const char* v = std::getenv("VSL_PREFIX");
  if (v != nullptr && *v != '\0') return v;
  v = std::getenv("XDG_DATA_HOME");
  if (v != nullptr && *v != '\0') return JoinHost(v, "vsl");
  std::string home;
  v = std::getenv("HOME");
  if (v != nullptr && *v != '\0') {
    home = v;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  } else {
    home = "/";
  }
  return JoinHost(home, ".local/share/vsl");
}

void EnsurePrefix() { EnsurePrefixAt(PrefixDir()); }

void EnsurePrefixAt(const std::string& prefix) {
  const std::string devices = JoinHost(prefix, "dosdevices");
  const std::pair<const char*, const char*> links[] = {{"c:", "../drive_c"}, {"z:", "/"}};
  // Most runs find everything there already: three looks instead of a
  // directory creation for every component.
  struct stat st;
  if (::lstat(JoinHost(devices, "c:").c_str(), &st) == 0 && ::lstat(JoinHost(devices, "z:").c_str(), &st) == 0 &&
      ::stat(JoinHost(prefix, "drive_c/windows/system32").c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return;
  MkdirAll(devices);
  for (const auto& [name, target] : links) {
    const std::string link = JoinHost(devices, name);
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0) continue;  // present: leave it as it is
    if (::symlink(target, link.c_str()) != 0 && errno != EEXIST) {
      const int err = errno;
      RaiseErrno(err, L"Cannot create the drive link " + text::FromUtf8(link));
    }
  }
  MkdirAll(JoinHost(prefix, "drive_c/windows/system32"));
}

// ---------------------------------------------------------------------------
// Directories held open
// ---------------------------------------------------------------------------

WindowsView::OpenDir::OpenDir(WindowsView& owner, int fd, DirId id, mode_t mode, bool readable)
    : fd(fd),
      id(id),
      readable(readable),
      stamp(owner.removals_),
      mode(mode),
      modeStamp(owner.dirModeChanges_),
      owner_(owner) {
  ++owner_.openDirs_;
}

WindowsView::OpenDir::~OpenDir() {
  // What was listed in it goes with it: its inode number may come back.
  owner_.listings_.erase(id);
  --owner_.openDirs_;
  ::close(fd);
}

namespace fs {

const struct dirent64* DirReader::Next() {
  if (pos_ >= len_) {
    const ssize_t n = ::getdents64(fd_, buf_, sizeof buf_);
    if (n <= 0) return nullptr;
    len_ = static_cast<std::size_t>(n);
    pos_ = 0;
  }
  const auto* e = reinterpret_cast<const struct dirent64*>(buf_ + pos_);
  pos_ += e->d_reclen;
  return e;
}

}  // namespace fs

WindowsView::DirRef WindowsView::OpenDirAt(int dirFd, const char* rel, const Status* known, bool* physical) {
  // Opened for reading, so that a listing reads from the same descriptor;
  // a directory that may be searched but not read is held all the same.
  auto open = [&](int flags) {
    int fd = ::openat(dirFd, rel, flags | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EMFILE) {
      // Out of descriptors: keep only the deepest directories and try again.
      ReleaseLevels(2, std::size_t{1} << 40);
      fd = ::openat(dirFd, rel, flags | O_DIRECTORY | O_CLOEXEC);
    }
    return fd;
  };
  bool readable = true;
  auto openEither = [&](int flags) {
    readable = true;
    int fd = open(O_RDONLY | flags);
    if (fd < 0 && errno == EACCES) {
      readable = false;
      fd = open(O_PATH | flags);
    }
    return fd;
  };
  // A name that is a directory and not a link to one leads back by "..".
  // Unless a listing told, the name is first opened without following a
  // link (which then fails as no directory).
  int fd = -1;
  if (physical != nullptr && !(*physical = known != nullptr && S_ISDIR(known->mode))) {
    fd = openEither(O_NOFOLLOW);
    if (fd >= 0) *physical = true;
    else if (errno == ENOTDIR || errno == ELOOP) fd = openEither(0);
  } else {
    fd = openEither(0);
  }
  if (fd < 0) return nullptr;
  // What the listing of its parent found saves asking again, unless the
  // name was a link: then the directory is the link's target.
  if (known != nullptr && S_ISDIR(known->mode))
    return std::make_shared<OpenDir>(*this, fd, DirId{known->dev, known->ino}, known->mode, readable);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return nullptr;
  }
  return std::make_shared<OpenDir>(*this, fd, DirId{st.st_dev, st.st_ino}, st.st_mode, readable);
}

int WindowsView::ReadFd(OpenDir& dir, Fd* own) {
  if (!dir.readable) {
    *own = Fd(::openat(dir.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return own->Get();
  }
  if (!dir.atStart && ::lseek(dir.fd, 0, SEEK_SET) != 0) return -1;
  dir.atStart = false;
  return dir.fd;
}

mode_t WindowsView::ModeOf(OpenDir& dir) {
  if (dir.modeStamp != dirModeChanges_) {
    struct stat st;
    if (::fstat(dir.fd, &st) == 0) dir.mode = st.st_mode;
    dir.modeStamp = dirModeChanges_;
  }
  return dir.mode;
}

void WindowsView::ReleaseLevels(std::size_t keepDeep, std::size_t stride) {
  auto release = [&](Chain& c) {
    const std::size_t n = c.levels.size();
    for (std::size_t i = 1; i + keepDeep < n; ++i)
      if (i % stride != 0) c.levels[i].dir.reset();
  };
  for (auto& [letter, c] : cwd_) release(c);
  for (Chain& c : spare_) release(c);
}

void WindowsView::Trim() {
  if (openDirs_ <= trimAt_) return;
  if (maxOpenDirs_ == 0) {
    // Half of what the process may open, so that files, the registry and
    // started programs' pipes always find descriptors.
    struct rlimit limit {};
    rlim_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) soft = limit.rlim_cur;
    maxOpenDirs_ = std::clamp<std::size_t>(soft > 64 ? (soft - 64) / 2 : 8, 8, 512);
  }
  if (openDirs_ > maxOpenDirs_) {
    // Every chain keeps its deepest directories and one in sixteen above
    // them. A directory let go is opened again when it is needed: by ".."
    // from the one below it, or from the nearest one kept above it.
    ReleaseLevels(8, 16);
    if (openDirs_ > maxOpenDirs_) ReleaseLevels(2, std::size_t{1} << 40);
  }
  // Looked at again once a good many more are open, so that a deep walk
  // does not go over every chain at every step.
  trimAt_ = std::max(maxOpenDirs_, openDirs_ + std::max<std::size_t>(maxOpenDirs_ / 2, 4));
}

void WindowsView::Forget() {
  for (auto& [letter, c] : cwd_)
    for (Level& l : c.levels) l.dir.reset();
  for (Chain& c : spare_) c = Chain{};
  listings_.clear();
  dirIndex_.clear();
}

WindowsView::~WindowsView() {
  // The directories go before the listings they would update.
  cwd_.clear();
  for (Chain& c : spare_) c = Chain{};
}

// ---------------------------------------------------------------------------
// Chains of directories
// ---------------------------------------------------------------------------

bool WindowsView::ParsePath(const std::wstring& path, wchar_t* drive, std::wstring* text) {
  std::size_t pos = 0;
  std::size_t clean = 0;
  if (HasDrive(path)) {
    *drive = UpperLetter(path[0]);
    pos = 2;
  } else {
    *drive = currentDrive_;
  }
  DriveRoot(*drive);  // a drive that does not exist fails here
  if (pos < path.size() && IsSep(path[pos])) {
    text->reserve(path.size() + 2);
    text->assign({*drive, L':'});
    // A full path most often starts with the text of a chain (the current
    // directory, or the directory of the paths used before it), which is
    // in this form already: only the rest needs reading.
    if (pos == 2) {
      const Chain* longest = nullptr;
      auto consider = [&](const Chain& c) {
        const std::size_t n = c.text.size();
        if (c.drive == *drive && n > 2 && n <= path.size() && (n == path.size() || IsSep(path[n])) &&
            std::wmemcmp(path.data() + 2, c.text.data() + 2, n - 2) == 0 &&
            (longest == nullptr || n > longest->text.size()))
          longest = &c;
      };
      consider(CwdChain(*drive));
      for (const Chain& c : spare_) consider(c);
      if (longest != nullptr) {
        text->assign(longest->text);
        pos = clean = longest->text.size();
      }
    }
  } else {
    const std::wstring& cwd = CwdChain(*drive).text;
    text->reserve(cwd.size() + path.size() + 1);
    text->assign(cwd);
  }
  while (pos < path.size()) {
    std::size_t end = pos;
    while (end < path.size() && !IsSep(path[end])) ++end;
    std::size_t b = pos;
    pos = end + 1;
    if (end == b || (end - b == 1 && path[b] == L'.')) continue;
    if (end - b == 2 && path[b] == L'.' && path[b + 1] == L'.') {
      if (text->size() > 2) text->resize(text->rfind(L'\\'));
      continue;
    }
    // As on Windows, trailing dots and spaces are not part of a name.
    while (end > b && (path[end - 1] == L'.' || path[end - 1] == L' ')) --end;
    if (end == b) continue;
    text->push_back(L'\\');
    text->append(path, b, end - b);
  }
  // A prefix that matched a chain's text holds no NUL.
  return !HasNul(std::wstring_view(path).substr(clean));
}

WindowsView::Chain& WindowsView::CwdChain(wchar_t drive) {
  auto it = cwd_.find(drive);
  if (it != cwd_.end()) return it->second;
  Chain& c = cwd_[drive];
  c.drive = drive;
  c.text.assign({drive, L':'});
  c.shown = c.text;
  c.levels.emplace_back();
  c.levels.back().textEnd = c.levels.back().shownEnd = 2;
  return c;
}

std::size_t WindowsView::MatchLevel(const Chain& c, std::wstring_view text) {
  auto matches = [&](std::size_t i) {
    const std::size_t end = c.levels[i].textEnd;
    return end <= text.size() && (end == text.size() || text[end] == L'\\') &&
           std::wmemcmp(text.data(), c.text.data(), end) == 0;
  };
  // Most often the whole chain matches; otherwise the matching levels are
  // the first ones, and the last of them is found by halving.
  std::size_t hi = c.levels.size() - 1;
  if (matches(hi)) return hi;
  std::size_t lo = 0;
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    (matches(mid) ? lo : hi) = mid;
  }
  return lo;
}

std::vector<WindowsView::Level> WindowsView::LevelsOf(std::wstring_view text, std::size_t fromEnd) {
  std::vector<Level> levels;
  std::size_t pos = fromEnd;
  while (pos < text.size()) {
    const std::size_t start = pos + 1;  // past the backslash
    std::size_t end = text.find(L'\\', start);
    if (end == std::wstring_view::npos) end = text.size();
    Level l;
    l.name.assign(text, start, end - start);
    l.host = text::ToUtf8(l.name);
    levels.push_back(std::move(l));
    pos = end;
  }
  return levels;
}

void WindowsView::PushLevels(Chain& c, std::vector<Level> levels) {
  for (Level& l : levels) {
    c.text.push_back(L'\\');
    c.text += l.name;
    c.shown.push_back(L'\\');
    c.shown += l.name;
    l.textEnd = c.text.size();
    l.shownEnd = c.shown.size();
    c.levels.push_back(std::move(l));
  }
}

void WindowsView::KeepLevels(Chain& c, std::size_t level) {
  c.levels.resize(level + 1);
  c.text.resize(c.levels[level].textEnd);
  c.shown.resize(c.levels[level].shownEnd);
}

void WindowsView::RebuildShown(Chain& c) {
  c.shown.resize(2);
  for (std::size_t i = 1; i < c.levels.size(); ++i) {
    c.shown.push_back(L'\\');
    c.shown += c.levels[i].name;
    c.levels[i].shownEnd = c.shown.size();
  }
}

std::pair<WindowsView::Chain*, std::size_t> WindowsView::ChainFor(wchar_t drive, std::wstring_view text) {
  Chain& cwd = CwdChain(drive);
  const std::size_t atCwd = MatchLevel(cwd, text);
  if (cwd.levels[atCwd].textEnd == text.size()) return {&cwd, atCwd};

  // A spare chain that reaches the directory, or the one that shares the
  // most with it; failing that, the spare used longest ago starts again from
  // what the current directory's chain shares.
  Chain* best = nullptr;
  std::size_t bestLevel = 0;
  for (Chain& s : spare_) {
    if (s.levels.empty() || s.drive != drive) continue;
    const std::size_t level = MatchLevel(s, text);
    if (best == nullptr || level > bestLevel) {
      best = &s;
      bestLevel = level;
    }
  }
  if (best != nullptr && best->levels[bestLevel].textEnd == text.size()) {
    best->lastUse = ++uses_;
    return {best, bestLevel};
  }
  if (best == nullptr || bestLevel <= atCwd) {
    best = spare_[0].lastUse <= spare_[1].lastUse ? &spare_[0] : &spare_[1];
    best->drive = drive;
    best->levels.assign(cwd.levels.begin(), cwd.levels.begin() + static_cast<std::ptrdiff_t>(atCwd) + 1);
    best->text.assign(cwd.text, 0, cwd.levels[atCwd].textEnd);
    best->shown.assign(cwd.shown, 0, cwd.levels[atCwd].shownEnd);
    bestLevel = atCwd;
  } else {
    // Opened before the deeper levels go, while ".." can still lead there.
    if (!best->levels[bestLevel].dir) LevelDir(*best, bestLevel);
    KeepLevels(*best, bestLevel);
  }
  best->lastUse = ++uses_;
  PushLevels(*best, LevelsOf(text, best->text.size()));
  return {best, best->levels.size() - 1};
}

WindowsView::DirRef WindowsView::LevelDir(Chain& c, std::size_t level) {
  // Just above a directory held open that was reached by its own name, as a
  // tree operation climbs back: ".." leads there, whatever the depth.
  if (!c.levels[level].dir && level + 1 < c.levels.size() && c.levels[level + 1].physical &&
      c.levels[level + 1].dir) {
    if (DirRef up = OpenDirAt(c.levels[level + 1].dir->fd, "..", nullptr)) return c.levels[level].dir = up;
  }
  // The deepest directory from `level` up that is open and still there. One
  // opened before this object removed a directory may have been that one.
  std::size_t from = level + 1;
  DirRef base;
  while (from > 0) {
    Level& l = c.levels[from - 1];
    if (l.dir && l.dir->stamp != removals_) {
      bool gone = false;
      if (blindRemoval_ > l.dir->stamp) {
        struct stat st;
        gone = ::fstat(l.dir->fd, &st) != 0 || st.st_nlink == 0;
      } else if (auto it = removedIds_.find(l.dir->id); it != removedIds_.end()) {
        gone = it->second > l.dir->stamp;
      }
      if (gone) {
        for (std::size_t i = from - 1; i < c.levels.size(); ++i) c.levels[i].dir.reset();
      } else {
        l.dir->stamp = removals_;
      }
    }
    if (l.dir) {
      base = l.dir;
      break;
    }
    --from;
  }
  if (from == level + 1) return base;
  if (!base) {
    base = OpenDirAt(AT_FDCWD, DriveRoot(c.drive).c_str(), nullptr);
    if (!base) return nullptr;
    c.levels[0].dir = base;
    from = 1;
    if (level == 0) return base;
  }
  bool respelt = false;
  DirRef dir = OpenLevels(base, &c.levels[from], level + 1 - from, &respelt);
  if (respelt) RebuildShown(c);
  return dir;
}

WindowsView::DirRef WindowsView::OpenLevels(const DirRef& base, Level* first, std::size_t count,
                                                     bool* respelt) {
  DirRef dir = base;
  std::size_t i = 0;
  while (i < count) {
    // As many names at once as one call may be handed.
    std::string rel;
    std::size_t k = i;
    while (k < count && rel.size() + first[k].host.size() + 1 < PATH_MAX) {
      if (!rel.empty()) rel.push_back('/');
      rel += first[k].host;
      ++k;
    }
    if (k == i) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    // One name below a listed directory: the listing knows it already.
    const Status* known = nullptr;
    if (k == i + 1) {
      if (Listing* listing = ListingOf(dir)) known = listing->Lookup(rel);
    }
    first[k - 1].physical = false;
    if (DirRef next = OpenDirAt(dir->fd, rel.c_str(), known, k == i + 1 ? &first[k - 1].physical : nullptr)) {
      first[k - 1].dir = next;
      dir = std::move(next);
      i = k;
      continue;
    }
    if (errno != ENOENT) return nullptr;
    // Some name is not spelt as on disk: one name at a time, each looked up
    // without regard to case when it is missing.
    for (; i < k; ++i) {
      DirRef next = OpenDirAt(dir->fd, first[i].host.c_str(), nullptr, &first[i].physical);
      if (!next && errno == ENOENT) {
        const std::wstring found = LookupNoCase(dir, first[i].name);
        if (found.empty() || found == first[i].name) {
          errno = ENOENT;
          return nullptr;
        }
        first[i].name = found;
        first[i].host = text::ToUtf8(found);
        *respelt = true;
        next = OpenDirAt(dir->fd, first[i].host.c_str(), nullptr, &first[i].physical);
      }
      if (!next) return nullptr;
      first[i].dir = next;
      dir = std::move(next);
    }
  }
  return dir;
}

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

const std::string& WindowsView::DriveRoot(wchar_t letter) {
  auto it = drives_.find(letter);
  if (it != drives_.end()) return it->second;
  if (!prefixChecked_) {
    prefixChecked_ = true;
    try {
      EnsurePrefixAt(prefix_);
    } catch (const VslError&) {
      prefixFailed_ = true;  // drives then come only from links that exist
    }
  }
  const std::string devices = JoinHost(prefix_, "dosdevices");
  const std::string link = JoinHost(devices, std::string(1, static_cast<char>(letter - L'A' + 'a')) + ":");
  // The link's target made canonical; an absolute target (Z:'s "/") needs
  // no look at the prefix's own directories.
  char target[PATH_MAX];
  char buf[PATH_MAX];
  struct stat st;
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  std::string resolved;
  if (n > 0) {
    target[n] = '\0';
    resolved = target[0] == '/' ? std::string(target) : JoinHost(devices, target);
  }
  if (!resolved.empty() && ::realpath(resolved.c_str(), buf) != nullptr && ::stat(buf, &st) == 0 &&
      S_ISDIR(st.st_mode))
    return drives_[letter] = buf;
  if (letter == L'Z' && prefixFailed_) return drives_[letter] = "/";
  throw VslError(std::wstring(L"The drive ") + letter + L": does not exist");
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
      if (n == 2) return false;
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

void WindowsView::LoadDriveTable() {
  if (driveTableLoaded_) drives_.clear();  // links may have been retargeted
  driveTableLoaded_ = true;
  try {
    DriveRoot(L'Z');  // makes sure of the prefix before its status is taken
  } catch (const VslError&) {
  }
  struct stat st {};
  if (::stat(JoinHost(prefix_, "dosdevices").c_str(), &st) != 0) st = {};
  devicesIno_ = st.st_ino;
  devicesMtime_ = st.st_mtim;
  driveTable_.clear();
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    try {
      driveTable_.emplace_back(letter, DriveRoot(letter));
    } catch (const VslError&) {
    }
  }
}

std::wstring WindowsView::DriveFormOf(const std::string& hostPath) {
  std::string host = hostPath;
  char buf[PATH_MAX];
  if (::realpath(hostPath.c_str(), buf) != nullptr) host = buf;
  // The drives are probed once and kept; they are probed again when a link
  // was added or removed in dosdevices, when no drive holds the path, or
  // when the link of the drive found no longer leads to the root noted.
  struct stat st {};
  if (::stat(JoinHost(prefix_, "dosdevices").c_str(), &st) != 0) st = {};
  if (!driveTableLoaded_ || st.st_ino != devicesIno_ || st.st_mtim.tv_sec != devicesMtime_.tv_sec ||
      st.st_mtim.tv_nsec != devicesMtime_.tv_nsec)
    LoadDriveTable();
  wchar_t best = 0;
  std::size_t bestLen = 0;
  for (int round = 0; round < 2; ++round) {
    best = 0;
    bestLen = 0;
    const std::string* bestRoot = nullptr;
    for (const auto& [letter, root] : driveTable_) {
      bool inside = root == "/" || host == root ||
                    (host.compare(0, root.size(), root) == 0 && host.size() > root.size() && host[root.size()] == '/');
      // Z: wins ties: it is the drive every host path has.
      if (inside && (best == 0 || root.size() > bestLen || (root.size() == bestLen && letter == L'Z'))) {
        best = letter;
        bestLen = root.size();
        bestRoot = &root;
      }
    }
    if (round == 1) break;
    if (best != 0) {
      if (best == L'Z' && prefixFailed_) break;  // Z: without a link
      std::string link = JoinHost(JoinHost(prefix_, "dosdevices"), std::string(1, static_cast<char>(best - L'A' + 'a')) + ":");
      if (::realpath(link.c_str(), buf) != nullptr && *bestRoot == buf) break;
    }
    LoadDriveTable();
  }
  std::string rest = host;
  if (best == 0) {
    best = L'Z';
  } else if (bestLen > 1) {
    rest = host.substr(bestLen);
  }
  std::wstring out;
  out.push_back(best);
  out += L":";
  std::wstring w = text::FromUtf8(rest);
  std::replace(w.begin(), w.end(), L'/', L'\\');
  if (w.empty() || w[0] != L'\\') w.insert(w.begin(), L'\\');
  while (w.size() > 1 && w.back() == L'\\') w.pop_back();
  return out + w;
}

// ---------------------------------------------------------------------------
// Drives and current directories
// ---------------------------------------------------------------------------

void WindowsView::ChangeDrive(const std::wstring& text) {
  if (text.empty()) return;
  wchar_t c = text[0];
  if (!IsLetter(c)) throw VslError(L"Cannot change to drive " + text.substr(0, 1) + L": there is no such drive");
  c = UpperLetter(c);
  DriveRoot(c);
  currentDrive_ = c;
}

bool WindowsView::MoveCwd(Chain& cwd, std::size_t shared, std::vector<Level> below) {
  // The directories below the ones shared are opened first; the chain takes
  // them only once the last one has turned out to be a directory.
  DirRef base = LevelDir(cwd, shared);
  if (!base) return false;
  bool respelt = false;
  DirRef target = below.empty() ? base : OpenLevels(base, below.data(), below.size(), &respelt);
  if (!target) return false;
  // A directory is entered only where it may be searched, as chdir asks:
  // looking up "." in it needs that right.
  struct stat st;
  if (::fstatat(target->fd, ".", &st, 0) != 0) return false;
  // The current directory is spelt as on disk.
  KeepLevels(cwd, shared);
  PushLevels(cwd, std::move(below));
  return true;
}

void WindowsView::ChangeDir(const std::wstring& path) {
  if (path.empty()) throw VslError(L"Cannot change the directory to an empty path");
  // Up to the parent or down into an entry, as a tree operation goes: one
  // level more or less. A failure is reported by the general way below.
  if (path == L"..") {
    Chain& cwd = CwdChain(currentDrive_);
    Trim();
    if (cwd.levels.size() > 1 && MoveCwd(cwd, cwd.levels.size() - 2, {})) return;
  } else if (Near near; NearChain(path, &near) && !near.self && near.chain == &CwdChain(near.drive)) {
    DriveRoot(near.drive);
    Trim();
    std::vector<Level> below(1);
    below[0].name = near.name;
    below[0].host = text::ToUtf8(near.name);
    if (MoveCwd(*near.chain, near.chain->levels.size() - 1, std::move(below))) return;
  }

  wchar_t drive = L'Z';
  std::wstring text;
  const bool valid = ParsePath(path, &drive, &text);
  Resolved shown;
  shown.shown = text;
  shown.root = text.size() == 2;
  if (!valid) throw VslError(L"Cannot change the directory to " + shown.DriveForm() + L": " + kInvalidName);
  Trim();
  Chain& cwd = CwdChain(drive);
  const std::size_t shared = MatchLevel(cwd, text);
  // The current directory or one above it is in the chain already.
  std::vector<Level> below;
  if (cwd.levels[shared].textEnd != text.size()) below = LevelsOf(text, cwd.levels[shared].textEnd);
  if (MoveCwd(cwd, shared, std::move(below))) return;
  const int err = errno;
  if (err == ENOTDIR) throw VslError(L"Cannot change the directory to " + shown.DriveForm() + L": not a directory");
  RaiseErrno(err, L"Cannot change the directory to " + shown.DriveForm());
}

std::wstring WindowsView::CurrentDir() {
  const Chain& cwd = CwdChain(currentDrive_);
  return cwd.levels.size() == 1 ? cwd.shown + L'\\' : cwd.shown;
}

}  // namespace posix
