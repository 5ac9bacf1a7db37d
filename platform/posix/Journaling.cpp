// What the undo journal of an atomic run needs of the file system: the
// stamp of an entry, renaming an entry aside and back, cutting a file back,
// deleting a saved tree, and the locked journal file itself.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/WindowsView.h"
#include "platform/posix/Support.h"

namespace posix {

using namespace fs;

namespace {

std::int64_t Nanoseconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

class PosixLockedFile : public platform::LockedFile {
 public:
  PosixLockedFile(Fd fd, std::wstring name) : fd_(std::move(fd)), name_(std::move(name)) {}
  std::string ReadAll() override {
    std::string out;
    char buffer[65536];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd_.Get(), buffer, sizeof buffer, at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) RaiseLastErrno([&] { return L"Cannot read " + name_; });
      if (n == 0) return out;
      out.append(buffer, static_cast<std::size_t>(n));
      at += n;
    }
  }
  void Append(const std::string& bytes, bool durable) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) RaiseLastErrno([&] { return L"Cannot write to " + name_; });
      done += static_cast<std::size_t>(n);
    }
    if (durable && ::fdatasync(fd_.Get()) != 0) RaiseLastErrno([&] { return L"Cannot write to " + name_; });
  }

 private:
  Fd fd_;  // the lock goes with the descriptor
  std::wstring name_;
};

// Makes sure this process may list and empty the directory `name` of
// `dirFd` (a saved tree keeps the modes it had, read-only ones among them).
// Where it cannot, opening or emptying the directory fails and says why.
bool AllowEmptying(int dirFd, const char* name, const struct stat& st) {
  return (st.st_mode & S_IRWXU) == S_IRWXU || ::fchmodat(dirFd, name, (st.st_mode & 07777) | S_IRWXU, 0) == 0;
}

}  // namespace

platform::EntryStamp WindowsView::Stamp(const std::wstring& path) {
  platform::EntryStamp stamp;
  Resolved r = Resolve(path);
  if (r.invalid || !r.dir) return stamp;
  struct stat st;
  if (::fstatat(r.dir->fd, r.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    // Not spelt as on disk: the name found without regard to case.
    Stat(r);
    if (!r.exists || ::fstatat(r.dir->fd, r.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return stamp;
  }
  stamp.exists = true;
  stamp.directory = S_ISDIR(st.st_mode);
  stamp.readOnly = !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
  stamp.volume = st.st_dev;
  stamp.identity = st.st_ino;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified = Nanoseconds(st.st_mtim);
  stamp.permissions = st.st_mode & 07777;
  return stamp;
}

bool WindowsView::MoveEntry(const std::wstring& from, const std::wstring& to) {
  Resolved s = Resolve(from);
  Resolved t = Resolve(to);
  auto what = [&] { return L"Cannot move " + s.DriveForm() + L" to " + t.DriveForm(); };
  if (s.invalid || t.invalid) throw VslError(what() + L": " + kInvalidName);
  Stat(s);
  if (!s.exists) RaiseErrno(s.dir ? ENOENT : s.dirErr, what());
  if (!t.dir) RaiseErrno(t.dirErr, what());
  if (t.root || ExistsNoCase(t)) RaiseErrno(EEXIST, what());
  // Never onto an entry that appeared meanwhile.
  int rc = ::renameat2(s.dir->fd, s.name.c_str(), t.dir->fd, t.name.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && errno == EINVAL) {
    // A file system that cannot promise it: the look above has to do.
    rc = ::renameat(s.dir->fd, s.name.c_str(), t.dir->fd, t.name.c_str());
  }
  if (rc != 0) {
    if (errno == EXDEV) return false;
    RaiseLastErrno(what);
  }
  const bool tree = S_ISDIR(s.st.mode) || S_ISLNK(s.st.mode);
  NoteRemoved(s, S_ISDIR(s.st.mode));
  NoteCreated(t);
  // Directories held open below a moved directory (or reached through a
  // moved link) would now lead into its new place.
  if (tree) Forget();
  return true;
}

void WindowsView::RestoreStamp(const std::wstring& path, const platform::EntryStamp& stamp) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot restore ");
  Stat(r);
  if (!r.exists) RaiseErrno(r.dir ? ENOENT : r.dirErr, L"Cannot restore " + r.DriveForm());
  const int dir = r.dir->fd;
  const char* name = r.name.c_str();
  // The size first, while the file may still be written; a file of the
  // right size (a read-only one among them) is not opened at all, nor is a
  // directory, which gets its permissions and time back.
  struct stat st;
  bool done = ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (done && !S_ISDIR(st.st_mode) && static_cast<std::uint64_t>(st.st_size) != stamp.size) {
    Fd fd(::openat(dir, name, O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    done = fd.Valid() && ::ftruncate(fd.Get(), static_cast<off_t>(stamp.size)) == 0;
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, {stamp.modified / 1000000000, stamp.modified % 1000000000}};
  done = done && ::fchmodat(dir, name, stamp.permissions, 0) == 0 &&
         ::utimensat(dir, name, times, AT_SYMLINK_NOFOLLOW) == 0;
  if (!done) RaiseLastErrno([&] { return L"Cannot restore " + r.DriveForm(); });
  if (S_ISDIR(st.st_mode)) ++dirModeChanges_;
  NoteChanged(r);
}

bool WindowsView::SameContent(const std::wstring& a, const std::wstring& b) {
  auto open = [this](const std::wstring& path, struct stat* st) {
    Resolved r = Resolve(path);
    if (r.invalid || !r.dir) return Fd();
    Fd fd(::openat(r.dir->fd, r.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid() && errno == ENOENT) {
      Stat(r);  // the name spelt otherwise on disk
      if (r.exists) fd = Fd(::openat(r.dir->fd, r.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (fd.Valid() && (::fstat(fd.Get(), st) != 0 || !S_ISREG(st->st_mode))) fd = Fd();
    return fd;
  };
  struct stat sa, sb;
  Fd fa = open(a, &sa);
  if (!fa.Valid()) return false;
  Fd fb = open(b, &sb);
  if (!fb.Valid() || sa.st_size != sb.st_size) return false;
  if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return false;
  // Both are read block by block for as many bytes as they hold.
  auto fill = [](int fd, char* buffer, std::size_t want) {
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = ::read(fd, buffer + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  };
  char x[16384], y[sizeof x];
  for (off_t left = sa.st_size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<off_t>(left, sizeof x));
    if (!fill(fa.Get(), x, n) || !fill(fb.Get(), y, n) || std::memcmp(x, y, n) != 0) return false;
    left -= static_cast<off_t>(n);
  }
  return true;
}

void WindowsView::RemoveTree(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot delete ");
  Stat(r);
  if (!r.exists) return;
  const std::wstring what = L"Cannot delete " + r.DriveForm();
  auto fail = [&] {
    const int err = errno;
    Forget();
    RaiseErrno(err, what);
  };
  if (!S_ISDIR(r.st.mode)) {
    if (::unlinkat(r.dir->fd, r.name.c_str(), 0) != 0) fail();
    NoteRemoved(r, false);
    return;
  }
  // Depth first with one directory open at a time: each level keeps the
  // names of the subdirectories still to be emptied, and ".." leads back,
  // so that any depth works within a few descriptors.
  struct Level {
    std::string name;                  // in the level above
    std::vector<std::string> pending;  // subdirectories still to go
  };
  std::vector<Level> levels;
  struct stat st;
  auto enter = [&](int parent, const std::string& name) {
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) AllowEmptying(parent, name.c_str(), st);
    Fd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) fail();
    Level level{name, {}};
    DirReader reader(fd.Get());
    while (const struct dirent64* e = reader.Next()) {
      if (IsDotOrDotDot(e->d_name)) continue;
      bool dir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN)
        dir = ::fstatat(fd.Get(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
      if (dir)
        level.pending.emplace_back(e->d_name);
      else if (::unlinkat(fd.Get(), e->d_name, 0) != 0 && errno != ENOENT)
        fail();
    }
    levels.push_back(std::move(level));
    return fd;
  };
  Fd current = enter(r.dir->fd, r.name);
  for (;;) {
    Level& top = levels.back();
    if (!top.pending.empty()) {
      const std::string next = std::move(top.pending.back());
      top.pending.pop_back();
      current = enter(current.Get(), next);
      continue;
    }
    if (levels.size() == 1) break;
    Fd up(::openat(current.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!up.Valid()) fail();
    if (::unlinkat(up.Get(), top.name.c_str(), AT_REMOVEDIR) != 0) fail();
    levels.pop_back();
    current = std::move(up);
  }
  current = Fd();
  if (::unlinkat(r.dir->fd, r.name.c_str(), AT_REMOVEDIR) != 0) fail();
  NoteRemoved(r, true);
  Forget();
}

std::unique_ptr<platform::LockedFile> WindowsView::OpenLocked(const std::wstring& path, bool create) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot open ");
  if (!create) Stat(r);
  if (!r.dir) RaiseErrno(r.dirErr, L"Cannot open " + r.DriveForm());
  const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT | O_EXCL : 0);
  Fd fd(::openat(r.dir->fd, r.name.c_str(), flags, 0600));
  if (!fd.Valid()) {
    if (!create && errno == ENOENT) return nullptr;  // finished by its owner meanwhile
    RaiseLastErrno([&] { return L"Cannot open " + r.DriveForm(); });
  }
  if (create) NoteCreated(r);
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return nullptr;
    RaiseLastErrno([&] { return L"Cannot lock " + r.DriveForm(); });
  }
  // Its owner may have finished and removed it between the open and the
  // lock: a file no longer at its path is nobody's journal.
  struct stat held, there;
  if (::fstat(fd.Get(), &held) != 0 || ::fstatat(r.dir->fd, r.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
      held.st_ino != there.st_ino || held.st_dev != there.st_dev)
    return nullptr;
  return std::make_unique<PosixLockedFile>(std::move(fd), r.DriveForm());
}

void WindowsView::CopyStamp(const std::wstring& source, const std::wstring& target) {
  // A copy keeps the source's permission bits and is written now.
  Resolved s = Resolve(source);
  Resolved t = Resolve(target);
  Stat(s);
  Stat(t);
  auto fail = [&](int err) { RaiseErrno(err, L"Cannot copy " + s.DriveForm() + L" to " + t.DriveForm()); };
  if (!s.exists || !t.exists) fail(ENOENT);
  const struct timespec now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
  if (((s.st.mode ^ t.st.mode) & 07777) != 0 && ::fchmodat(t.dir->fd, t.name.c_str(), s.st.mode & 07777, 0) != 0)
    fail(errno);
  if (::utimensat(t.dir->fd, t.name.c_str(), now, AT_SYMLINK_NOFOLLOW) != 0) fail(errno);
  NoteChanged(t);
}

}  // namespace posix
