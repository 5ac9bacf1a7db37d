// Directories held open, and the chains of them that stand for the current
// directory of every drive and for the directories of other paths.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>

#include "platform/Text.h"
#include "platform/posix/WindowsView.h"

namespace posix {

using namespace fs;

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

}  // namespace posix
