// What the undo journal of an atomic run needs of the file system: the
// stamp of an entry, renaming an entry aside and back, cutting a file back,
// deleting a saved tree, and the locked journal file itself.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/FileSystem.h"
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
      if (n < 0) {
        const int err = errno;
        RaiseErrno(err, L"Cannot read " + name_);
      }
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
      if (n < 0) {
        const int err = errno;
        RaiseErrno(err, L"Cannot write to " + name_);
      }
      done += static_cast<std::size_t>(n);
    }
    if (durable && ::fdatasync(fd_.Get()) != 0) {
      const int err = errno;
      RaiseErrno(err, L"Cannot write to " + name_);
    }
  }

 private:
  Fd fd_;  // the lock goes with the descriptor
  std::wstring name_;
};

// Makes sure this process may list and empty the directory `name` of
// `dirFd` (a saved tree keeps the modes it had, read-only ones among them).
void AllowEmptying(int dirFd, const char* name, const struct stat& st) {
  if ((st.st_mode & S_IRWXU) != S_IRWXU) ::fchmodat(dirFd, name, (st.st_mode & 07777) | S_IRWXU, 0);
}

}  // namespace

platform::EntryStamp PosixFileSystem::Stamp(const std::wstring& path) {
  platform::EntryStamp stamp;
  Resolved r = Resolve(path);
  Stat(r);
  struct stat st;
  if (!r.exists || ::fstatat(r.dir->fd, r.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return stamp;
  stamp.exists = true;
  stamp.directory = S_ISDIR(st.st_mode);
  stamp.readOnly = !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
  stamp.volume = st.st_dev;
  stamp.identity = st.st_ino;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified = Nanoseconds(st.st_mtim);
  return stamp;
}

bool PosixFileSystem::MoveEntry(const std::wstring& from, const std::wstring& to) {
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
    const int err = errno;
    RaiseErrno(err, what());
  }
  const bool tree = S_ISDIR(s.st.mode) || S_ISLNK(s.st.mode);
  NoteRemoved(s, S_ISDIR(s.st.mode));
  NoteCreated(t);
  // Directories held open below a moved directory (or reached through a
  // moved link) would now lead into its new place.
  if (tree) Forget();
  return true;
}

void PosixFileSystem::RestoreFile(const std::wstring& path, std::uint64_t size, std::int64_t modified) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot restore ");
  Stat(r);
  if (!r.exists) RaiseErrno(r.dir ? ENOENT : r.dirErr, L"Cannot restore " + r.DriveForm());
  Fd fd(::openat(r.dir->fd, r.name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
  struct timespec times[2] = {{0, UTIME_OMIT}, {modified / 1000000000, modified % 1000000000}};
  if (!fd.Valid() || ::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0 || ::futimens(fd.Get(), times) != 0) {
    const int err = errno;
    RaiseErrno(err, L"Cannot restore " + r.DriveForm());
  }
  NoteChanged(r);
}

void PosixFileSystem::RemoveTree(const std::wstring& path) {
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

std::unique_ptr<platform::LockedFile> PosixFileSystem::OpenLocked(const std::wstring& path, bool create) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot open ");
  if (!create) Stat(r);
  if (!r.dir) RaiseErrno(r.dirErr, L"Cannot open " + r.DriveForm());
  const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT | O_EXCL : 0);
  Fd fd(::openat(r.dir->fd, r.name.c_str(), flags, 0600));
  if (!fd.Valid()) {
    if (!create && errno == ENOENT) return nullptr;  // finished by its owner meanwhile
    const int err = errno;
    RaiseErrno(err, L"Cannot open " + r.DriveForm());
  }
  if (create) NoteCreated(r);
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return nullptr;
    const int err = errno;
    RaiseErrno(err, L"Cannot lock " + r.DriveForm());
  }
  // Its owner may have finished and removed it between the open and the
  // lock: a file no longer at its path is nobody's journal.
  struct stat held, there;
  if (::fstat(fd.Get(), &held) != 0 || ::fstatat(r.dir->fd, r.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
      held.st_ino != there.st_ino || held.st_dev != there.st_dev)
    return nullptr;
  return std::make_unique<PosixLockedFile>(std::move(fd), r.DriveForm());
}

}  // namespace posix
