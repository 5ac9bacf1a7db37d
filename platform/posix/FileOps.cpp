// Creating, deleting, copying and opening files and directories. The
// read-only attribute is enforced here, also for root.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>

#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Support.h"

namespace posix {

using namespace fs;
using platform::FindEntry;

namespace {

bool IsReadOnlyFile(const struct stat& st) { return !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

class PosixFile : public platform::File {
 public:
  PosixFile(int fd, std::wstring name) : fd_(fd), name_(std::move(name)) {}
  std::string ReadAll() override {
    std::string out;
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd_.Get(), buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        RaiseErrno(err, L"Cannot read " + name_);
      }
      if (n == 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
  void Write(const std::string& bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        RaiseErrno(err, L"Cannot write to " + name_);
      }
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  Fd fd_;
  std::wstring name_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Creating and deleting
// ---------------------------------------------------------------------------

void PosixFileSystem::RefuseInvalid(const Resolved& r, const std::wstring& what) {
  if (r.invalid) throw VslError(what + L": " + kInvalidName);
}

void PosixFileSystem::CreateDir(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot create the directory " + r.DriveForm());
  if (::mkdir(r.host.c_str(), 0777) != 0) {
    const int err = errno;
    RaiseErrno(err, L"Cannot create the directory " + r.DriveForm());
  }
  NoteCreated(r.HostParent(), r.comps.back());
}

void PosixFileSystem::RemoveDir(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot remove the directory " + r.DriveForm());
  if (r.comps.empty()) throw VslError(L"Cannot remove the directory " + r.DriveForm() + L": it is the root of the drive");
  if (::rmdir(r.host.c_str()) != 0) {
    const int err = errno;
    RaiseErrno(err, L"Cannot remove the directory " + r.DriveForm());
  }
  NoteRemoved(r.HostParent());
}

void PosixFileSystem::RemoveFile(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot delete " + r.DriveForm());
  if (!r.exists) RaiseErrno(ENOENT, L"Cannot delete " + r.DriveForm());
  const struct stat& st = r.st;
  if (S_ISDIR(st.st_mode)) throw VslError(L"Cannot delete " + r.DriveForm() + L": it is a directory");
  if (IsReadOnlyFile(st)) throw VslError(L"Cannot delete " + r.DriveForm() + L": the file is read-only");
  if (::unlink(r.host.c_str()) != 0) {
    const int err = errno;
    RaiseErrno(err, L"Cannot delete " + r.DriveForm());
  }
  NoteRemoved(r.HostParent());
}

void PosixFileSystem::RemoveMatching(const std::wstring& pattern) {
  std::wstring dirPart, last;
  SplitLast(pattern, &dirPart, &last);
  for (const FindEntry& e : Find(pattern))
    if ((e.attributes & platform::kAttrNotPlain) == 0) RemoveFile(dirPart + e.name);
}

void PosixFileSystem::CopyWholeFile(const std::wstring& source, const std::wstring& target) {
  Resolved s = Resolve(source);
  Resolved t = Resolve(target);
  const std::wstring what = L"Cannot copy " + s.DriveForm() + L" to " + t.DriveForm();
  if (s.invalid || t.invalid) throw VslError(what + L": " + kInvalidName);
  if (!s.exists) RaiseErrno(ENOENT, what);
  const struct stat& sst = s.st;
  if (S_ISDIR(sst.st_mode)) throw VslError(what + L": the source is a directory");
  const struct stat& tst = t.st;
  bool targetExists = t.exists;
  if (targetExists) {
    if (S_ISDIR(tst.st_mode)) throw VslError(what + L": the target is a directory");
    // Cutting the target to zero length would destroy the source.
    if (tst.st_dev == sst.st_dev && tst.st_ino == sst.st_ino) throw VslError(what + L": it is the same file");
    if (IsReadOnlyFile(tst)) throw VslError(what + L": the target is read-only");
  }

  if (S_ISLNK(sst.st_mode)) {
    std::vector<char> link(static_cast<std::size_t>(sst.st_size > 0 ? sst.st_size : PATH_MAX) + 1);
    ssize_t n = ::readlink(s.host.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) {
      RaiseErrno(n < 0 ? errno : ENAMETOOLONG, what);
    }
    link[static_cast<std::size_t>(n)] = '\0';
    if (targetExists && ::unlink(t.host.c_str()) != 0) {
      const int err = errno;
      RaiseErrno(err, what);
    }
    if (::symlink(link.data(), t.host.c_str()) != 0) {
      const int err = errno;
      RaiseErrno(err, what);
    }
    if (!targetExists) NoteCreated(t.HostParent(), t.comps.back());
    return;
  }

  // Never write through a link at the target, whatever it points to (a
  // read-only file or the source among others): the link itself is removed
  // and the copy takes its place.
  if (targetExists && S_ISLNK(tst.st_mode)) {
    if (::unlink(t.host.c_str()) != 0) {
      const int err = errno;
      RaiseErrno(err, what);
    }
    targetExists = false;
  }

  Fd in(::open(s.host.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.Valid()) {
    const int err = errno;
    RaiseErrno(err, what);
  }
  const mode_t createMode = (sst.st_mode & 0777) | S_IWUSR;
  Fd out(::open(t.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, createMode));
  if (!out.Valid()) {
    const int err = errno;
    RaiseErrno(err, what);
  }
  if (!targetExists && !t.comps.empty()) NoteCreated(t.HostParent(), t.comps.back());

  // The kernel copies without a detour through this process where it can;
  // otherwise (another file system type, a special file) by blocks.
  bool byBlocks = false;
  off_t copied = 0;
  for (;;) {
    ssize_t n = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, 1 << 30, 0);
    if (n > 0) {
      copied += n;
      if (copied >= sst.st_size && sst.st_size > 0) break;  // all there is
      continue;
    }
    if (n == 0) {
      byBlocks = copied == 0;  // a special file may claim to be empty
      break;
    }
    if (errno == EINTR) continue;
    if (copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                        errno == EPERM || errno == EBADF)) {
      byBlocks = true;
      break;
    }
    const int err = errno;
    RaiseErrno(err, what);
  }
  if (byBlocks) {
    for (;;) {
      // The block buffer is made on first use: most runs never copy by blocks.
      if (buffer_.empty()) buffer_.resize(1 << 20);
      ssize_t n = ::read(in.Get(), buffer_.data(), buffer_.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        RaiseErrno(err, what);
      }
      if (n == 0) break;
      ssize_t done = 0;
      while (done < n) {
        ssize_t w = ::write(out.Get(), buffer_.data() + done, static_cast<std::size_t>(n - done));
        if (w < 0) {
          if (errno == EINTR) continue;
          const int err = errno;
          RaiseErrno(err, what);
        }
        done += w;
      }
    }
  }
  // The copy keeps the source's mode bits, its read-only attribute among
  // them, as CopyFile keeps attributes.
  const bool modeRight = !targetExists && (createMode & ~umask_) == (sst.st_mode & 07777);
  if (!modeRight && ::fchmod(out.Get(), sst.st_mode & 07777) != 0) {
    const int err = errno;
    RaiseErrno(err, what);
  }
  if (int err = out.Close(); err != 0) RaiseErrno(err, what);
}

std::unique_ptr<platform::File> PosixFileSystem::Open(const std::wstring& path, platform::OpenMode mode) {
  Resolved r = Resolve(path);
  const wchar_t* how = mode == platform::OpenMode::Read     ? L" for reading"
                       : mode == platform::OpenMode::Append ? L" for appending"
                                                            : L" for writing";
  const std::wstring what = L"Cannot open " + r.DriveForm() + how;
  if (r.invalid) throw VslError(what + L": " + kInvalidName);
  if (mode == platform::OpenMode::CreatePrivate) {
    // O_EXCL refuses any entry of that name, a symbolic link included.
    int fd = ::open(r.host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int err = errno;
      RaiseErrno(err, what);
    }
    auto file = std::make_unique<PosixFile>(fd, r.DriveForm());
    if (!r.comps.empty()) NoteCreated(r.HostParent(), r.comps.back());
    // The umask may have taken the owner's bits away as well; the owner
    // keeps reading and writing, nobody else gets either.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
      const int err = errno;
      RaiseErrno(err, what);
    }
    return file;
  }
  int flags = O_CLOEXEC;
  struct stat st;
  const bool existed = r.exists;
  // Whether a file was there to open, following a link at the path: a file
  // this call creates is never refused as read-only.
  bool targetExisted = false;
  if (mode == platform::OpenMode::Read) {
    flags |= O_RDONLY;
  } else {
    // Not cut yet: the read-only attribute is checked again on the file
    // actually opened (a link is followed by open, and root may open a
    // read-only file), and only then is the file cut.
    struct stat before;
    targetExisted = ::stat(r.host.c_str(), &before) == 0;
    if (targetExisted && IsReadOnlyFile(before)) throw VslError(what + L": the file is read-only");
    flags |= O_WRONLY | O_CREAT | (mode == platform::OpenMode::Append ? O_APPEND : 0);
  }
  int fd = ::open(r.host.c_str(), flags, 0666);
  if (fd < 0) {
    const int err = errno;
    RaiseErrno(err, what);
  }
  auto file = std::make_unique<PosixFile>(fd, r.DriveForm());
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    RaiseErrno(err, what);
  }
  if (S_ISDIR(st.st_mode)) RaiseErrno(EISDIR, what);
  if (!existed && !r.comps.empty()) NoteCreated(r.HostParent(), r.comps.back());
  if (mode != platform::OpenMode::Read) {
    if (targetExisted && IsReadOnlyFile(st)) throw VslError(what + L": the file is read-only");
    if (mode == platform::OpenMode::Write && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
      const int err = errno;
      RaiseErrno(err, what);
    }
  }
  return file;
}

bool PosixFileSystem::CreateNewFile(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot create " + r.DriveForm());
  Fd fd(::open(r.host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.Valid()) {
    if (errno == EEXIST) return false;
    const int err = errno;
    RaiseErrno(err, L"Cannot create " + r.DriveForm());
  }
  if (!r.comps.empty()) NoteCreated(r.HostParent(), r.comps.back());
  return true;
}

// ---------------------------------------------------------------------------
// Text files and permissions
// ---------------------------------------------------------------------------

std::wstring PosixFileSystem::ReadTextFile(const std::wstring& path) {
  std::string bytes = Open(path, platform::OpenMode::Read)->ReadAll();
  std::string_view view(bytes);
  if (view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);
  return text::FromUtf8(view);
}

void PosixFileSystem::AppendTextLine(const std::wstring& path, const std::wstring& line) {
  Open(path, platform::OpenMode::Append)->Write(text::ToUtf8(line) + "\n");
}

bool PosixFileSystem::CanCreateIn(const std::wstring& dir) {
  Resolved r = Resolve(dir);
  struct stat st {};
  if (r.invalid || ::stat(r.host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return ::access(r.host.c_str(), W_OK | X_OK) == 0;
}

}  // namespace posix
