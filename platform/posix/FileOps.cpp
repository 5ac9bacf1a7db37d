// Creating, deleting, copying and opening files and directories. The
// read-only attribute is enforced here, also for root.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <climits>
#include <string_view>

#include "platform/Text.h"
#include "platform/posix/WindowsView.h"
#include "platform/posix/Support.h"

namespace posix {

using namespace fs;
using platform::FindEntry;

namespace {

// Asks for transparent huge pages for the whole 2 MiB pieces of a large
// buffer that is about to be filled: one page fault for each piece instead
// of one for every 4 KiB, which on some machines costs more than the work.
// A hint only: nothing changes where the system does not take it.
void AdviseHugePages(void* buffer, std::size_t bytes) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto at = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t start = (at + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (at + bytes) & ~(kHuge - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

bool IsReadOnlyFile(mode_t mode) { return !S_ISLNK(mode) && !S_ISDIR(mode) && (mode & S_IWUSR) == 0; }

class PosixFile : public platform::File {
 public:
  PosixFile(int fd, std::wstring name, off_t size) : fd_(fd), name_(std::move(name)), size_(size) {}
  // The size when the file was opened (0 for what is no plain file).
  off_t Size() const { return size_; }
  // Up to `n` bytes; 0 at the end.
  std::size_t ReadSome(char* buffer, std::size_t n) {
    for (;;) {
      const ssize_t got = ::read(fd_.Get(), buffer, n);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      RaiseLastErrno([&] { return L"Cannot read " + name_; });
    }
  }
  std::size_t Read(char* buffer, std::size_t n) override { return ReadSome(buffer, n); }
  std::string ReadAll() override {
    // A file of known size comes in one read; one byte more shows whether
    // it grew meanwhile.
    std::string out;
    std::size_t want = size_ > 0 ? static_cast<std::size_t>(size_) + 1 : 65536;
    for (;;) {
      const std::size_t have = out.size();
      out.resize(have + want);
      ssize_t n = ::read(fd_.Get(), out.data() + have, want);
      if (n < 0) {
        out.resize(have);
        if (errno == EINTR) continue;
        RaiseLastErrno([&] { return L"Cannot read " + name_; });
      }
      out.resize(have + static_cast<std::size_t>(n));
      if (n == 0 || (size_ > 0 && have == 0 && static_cast<std::size_t>(n) < want)) break;
      want = 65536;
    }
    return out;
  }
  void Write(const std::string& bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseLastErrno([&] { return L"Cannot write to " + name_; });
      }
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  Fd fd_;
  std::wstring name_;
  off_t size_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Creating and deleting
// ---------------------------------------------------------------------------

void WindowsView::RefuseInvalid(const Resolved& r, const wchar_t* what) {
  if (r.invalid) throw VslError(what + r.DriveForm() + L": " + kInvalidName);
}

void WindowsView::CreateDir(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot create the directory ");
  if (r.root) RaiseErrno(EEXIST, L"Cannot create the directory " + r.DriveForm());
  if (!r.dir) RaiseErrno(r.dirErr, L"Cannot create the directory " + r.DriveForm());
  // A name that exists in another spelling is taken as that name.
  if (ExistsNoCase(r)) RaiseErrno(EEXIST, L"Cannot create the directory " + r.DriveForm());
  if (::mkdirat(r.dir->fd, r.name.c_str(), 0777) != 0)
    RaiseLastErrno([&] { return L"Cannot create the directory " + r.DriveForm(); });
  NoteCreated(r);
}

void WindowsView::RemoveDir(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot remove the directory ");
  if (r.root) throw VslError(L"Cannot remove the directory " + r.DriveForm() + L": it is the root of the drive");
  if (!r.dir) RaiseErrno(r.dirErr, L"Cannot remove the directory " + r.DriveForm());
  int rc = ::unlinkat(r.dir->fd, r.name.c_str(), AT_REMOVEDIR);
  if (rc != 0 && errno == ENOENT) {
    // Not spelt as on disk: the name found without regard to case.
    Stat(r);
    if (r.exists) rc = ::unlinkat(r.dir->fd, r.name.c_str(), AT_REMOVEDIR);
    else errno = ENOENT;
  }
  if (rc != 0) RaiseLastErrno([&] { return L"Cannot remove the directory " + r.DriveForm(); });
  NoteRemoved(r, true);
}

void WindowsView::RemoveFile(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot delete ");
  Stat(r);
  if (!r.exists) RaiseErrno(r.dir ? ENOENT : r.dirErr, L"Cannot delete " + r.DriveForm());
  if (S_ISDIR(r.st.mode)) throw VslError(L"Cannot delete " + r.DriveForm() + L": it is a directory");
  if (IsReadOnlyFile(r.st.mode)) throw VslError(L"Cannot delete " + r.DriveForm() + L": the file is read-only");
  if (::unlinkat(r.dir->fd, r.name.c_str(), 0) != 0) RaiseLastErrno([&] { return L"Cannot delete " + r.DriveForm(); });
  NoteRemoved(r, false);
  // A directory reached through the link may be held open as if it were
  // still there.
  if (S_ISLNK(r.st.mode)) Forget();
}

void WindowsView::RemoveMatching(const std::wstring& pattern) {
  std::wstring dirPart, last;
  SplitLast(pattern, &dirPart, &last);
  for (const FindEntry& e : Find(pattern))
    if ((e.attributes & platform::kAttrNotPlain) == 0) RemoveFile(dirPart + e.name);
}

void WindowsView::CopyWholeFile(const std::wstring& source, const std::wstring& target) {
  Resolved s = Resolve(source);
  Resolved t = Resolve(target);
  // The message names the paths as they are spelt on disk, so it is made
  // only when it is needed.
  auto what = [&] { return L"Cannot copy " + s.DriveForm() + L" to " + t.DriveForm(); };
  if (s.invalid || t.invalid) throw VslError(what() + L": " + kInvalidName);
  Stat(s);
  if (!s.exists) RaiseErrno(s.dir ? ENOENT : s.dirErr, what());
  const Status sst = s.st;
  if (S_ISDIR(sst.mode)) throw VslError(what() + L": the source is a directory");
  if (t.root) throw VslError(what() + L": the target is a directory");
  if (!t.dir) RaiseErrno(t.dirErr, what());
  bool targetExists = ExistsNoCase(t);
  if (targetExists) {
    const Status& tst = t.st;
    if (S_ISDIR(tst.mode)) throw VslError(what() + L": the target is a directory");
    // Cutting the target to zero length would destroy the source.
    if (tst.dev == sst.dev && tst.ino == sst.ino) throw VslError(what() + L": it is the same file");
    if (IsReadOnlyFile(tst.mode)) throw VslError(what() + L": the target is read-only");
  }
  const int sdir = s.dir->fd;
  const int tdir = t.dir->fd;

  if (S_ISLNK(sst.mode)) {
    std::vector<char> link(static_cast<std::size_t>(sst.size > 0 ? sst.size : PATH_MAX) + 1);
    ssize_t n = ::readlinkat(sdir, s.name.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) {
      RaiseErrno(n < 0 ? errno : ENAMETOOLONG, what());
    }
    link[static_cast<std::size_t>(n)] = '\0';
    if (targetExists && ::unlinkat(tdir, t.name.c_str(), 0) != 0) RaiseLastErrno(what);
    if (::symlinkat(link.data(), tdir, t.name.c_str()) != 0) RaiseLastErrno(what);
    if (targetExists) {
      NoteChanged(t);
      if (S_ISLNK(t.st.mode)) Forget();
    } else {
      NoteCreated(t);
    }
    return;
  }

  // Never write through a link at the target, whatever it points to (a
  // read-only file or the source among others): the link itself is removed
  // and the copy takes its place.
  if (targetExists && S_ISLNK(t.st.mode)) {
    if (::unlinkat(tdir, t.name.c_str(), 0) != 0) RaiseLastErrno(what);
    NoteRemoved(t, false);
    Forget();
    targetExists = false;
  }

  Fd in(::openat(sdir, s.name.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.Valid()) RaiseLastErrno(what);
  const mode_t createMode = (sst.mode & 0777) | S_IWUSR;
  // A new file is made new (O_EXCL): a file that appeared meanwhile is
  // opened as an existing one instead.
  Fd out(targetExists ? -1 : ::openat(tdir, t.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode));
  if (!out.Valid() && (targetExists || errno == EEXIST)) {
    targetExists = true;
    out = Fd(::openat(tdir, t.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, createMode));
  }
  if (!out.Valid()) RaiseLastErrno(what);
  if (targetExists)
    NoteChanged(t);
  else
    NoteCreated(t);

  // The kernel copies without a detour through this process where it can;
  // otherwise (another file system type, a special file) by blocks.
  bool byBlocks = false;
  off_t copied = 0;
  for (;;) {
    ssize_t n = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, 1 << 30, 0);
    if (n > 0) {
      copied += n;
      if (copied >= sst.size && sst.size > 0) break;  // all there is
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
    RaiseLastErrno(what);
  }
  if (byBlocks) {
    for (;;) {
      // The block buffer is made on first use: most runs never copy by blocks.
      if (buffer_.empty()) buffer_.resize(1 << 20);
      ssize_t n = ::read(in.Get(), buffer_.data(), buffer_.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        RaiseLastErrno(what);
      }
      if (n == 0) break;
      ssize_t done = 0;
      while (done < n) {
        ssize_t w = ::write(out.Get(), buffer_.data() + done, static_cast<std::size_t>(n - done));
        if (w < 0) {
          if (errno == EINTR) continue;
          RaiseLastErrno(what);
        }
        done += w;
      }
    }
  }
  // The copy keeps the source's mode bits, its read-only attribute among
  // them, as CopyFile keeps attributes.
  const bool modeRight = !targetExists && (createMode & ~umask_) == (sst.mode & 07777);
  if (!modeRight && ::fchmod(out.Get(), sst.mode & 07777) != 0) RaiseLastErrno(what);
  if (int err = out.Close(); err != 0) RaiseErrno(err, what());
}

std::unique_ptr<platform::File> WindowsView::Open(const std::wstring& path, platform::OpenMode mode) {
  Resolved r = Resolve(path);
  const wchar_t* how = mode == platform::OpenMode::Read     ? L" for reading"
                       : mode == platform::OpenMode::Append ? L" for appending"
                                                            : L" for writing";
  auto what = [&] { return L"Cannot open " + r.DriveForm() + how; };
  if (r.invalid) throw VslError(what() + L": " + kInvalidName);
  if (!r.dir) RaiseErrno(r.dirErr, what());
  if (mode == platform::OpenMode::CreatePrivate) {
    // O_EXCL refuses any entry of that name, a symbolic link included; one
    // spelt otherwise is that name too.
    if (r.root || ExistsNoCase(r)) RaiseErrno(EEXIST, what());
    int fd = ::openat(r.dir->fd, r.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) RaiseLastErrno(what);
    auto file = std::make_unique<PosixFile>(fd, r.DriveForm(), 0);
    NoteCreated(r);
    // The umask may have taken the owner's bits away as well; the owner
    // keeps reading and writing, nobody else gets either.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) RaiseLastErrno(what);
    return file;
  }
  int fd = -1;
  bool existed = true;
  // Whether a file was there to open, following a link at the path: a file
  // this call creates is never refused as read-only.
  bool targetExisted = false;
  if (mode == platform::OpenMode::Read) {
    fd = ::openat(r.dir->fd, r.name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && !r.root) {
      // Not spelt as on disk: the name found without regard to case.
      Stat(r);
      if (r.exists) fd = ::openat(r.dir->fd, r.name.c_str(), O_RDONLY | O_CLOEXEC);
      else errno = ENOENT;
    }
  } else {
    // Not cut yet: the read-only attribute is checked again on the file
    // actually opened (a link is followed by open, and root may open a
    // read-only file), and only then is the file cut.
    existed = ExistsNoCase(r);
    struct stat before;
    targetExisted = existed && ::fstatat(r.dir->fd, r.name.c_str(), &before, 0) == 0;
    if (targetExisted && IsReadOnlyFile(before.st_mode)) throw VslError(what() + L": the file is read-only");
    const int flags = O_CLOEXEC | O_WRONLY | O_CREAT | (mode == platform::OpenMode::Append ? O_APPEND : 0);
    fd = ::openat(r.dir->fd, r.name.c_str(), flags, 0666);
  }
  if (fd < 0) RaiseLastErrno(what);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    RaiseErrno(err, what());
  }
  auto file = std::make_unique<PosixFile>(fd, r.DriveForm(), S_ISREG(st.st_mode) ? st.st_size : 0);
  if (S_ISDIR(st.st_mode)) RaiseErrno(EISDIR, what());
  if (!existed && !r.root) NoteCreated(r);
  if (mode != platform::OpenMode::Read) {
    if (existed) NoteChanged(r);
    if (targetExisted && IsReadOnlyFile(st.st_mode)) throw VslError(what() + L": the file is read-only");
    if (mode == platform::OpenMode::Write && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) RaiseLastErrno(what);
  }
  return file;
}

bool WindowsView::CreateNewFile(const std::wstring& path) {
  Resolved r = Resolve(path);
  RefuseInvalid(r, L"Cannot create ");
  if (r.root) return false;
  if (!r.dir) RaiseErrno(r.dirErr, L"Cannot create " + r.DriveForm());
  if (ExistsNoCase(r)) return false;
  Fd fd(::openat(r.dir->fd, r.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.Valid()) {
    if (errno == EEXIST) return false;
    RaiseLastErrno([&] { return L"Cannot create " + r.DriveForm(); });
  }
  NoteCreated(r);
  return true;
}

// ---------------------------------------------------------------------------
// Text files and permissions
// ---------------------------------------------------------------------------

namespace {

// Where the last complete UTF-8 sequence of `bytes` ends: a sequence cut
// short at the end is left for the bytes that follow.
std::size_t CompleteUtf8(std::string_view bytes) {
  std::size_t start = bytes.size();
  while (start > 0 && bytes.size() - start < 3 && (static_cast<unsigned char>(bytes[start - 1]) & 0xC0) == 0x80)
    --start;
  if (start == 0) return bytes.size();
  const auto lead = static_cast<unsigned char>(bytes[start - 1]);
  const std::size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
  return bytes.size() - (start - 1) < length ? start - 1 : bytes.size();
}

}  // namespace

std::wstring WindowsView::ReadTextFile(const std::wstring& path) {
  auto opened = Open(path, platform::OpenMode::Read);
  auto& file = static_cast<PosixFile&>(*opened);
  // The text takes four bytes a character, megabytes for a large script:
  // held in huge pages where the system offers them, and decoded a block
  // at a time, so that the bytes need no room of their own.
  std::wstring out;
  out.reserve(static_cast<std::size_t>(file.Size()));
  AdviseHugePages(out.data(), out.capacity() * sizeof(wchar_t));
  constexpr std::size_t kBlock = 65536;
  std::unique_ptr<char[]> block(new char[kBlock + 3]);
  std::size_t kept = 0;   // the start of a sequence that the last block cut
  bool atStart = true;    // the byte order mark is still to be looked for
  for (;;) {
    const std::size_t got = file.ReadSome(block.get() + kept, kBlock);
    std::string_view bytes(block.get(), kept + got);
    if (atStart && (bytes.size() >= 3 || got == 0)) {
      if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
      atStart = false;
    }
    if (got == 0) {
      text::AppendFromUtf8(out, bytes);
      return out;
    }
    if (atStart) {  // fewer than three bytes so far
      kept = bytes.size();
      continue;
    }
    const std::size_t complete = CompleteUtf8(bytes);
    text::AppendFromUtf8(out, bytes.substr(0, complete));
    kept = bytes.size() - complete;
    std::memmove(block.get(), bytes.data() + complete, kept);
  }
}

void WindowsView::AppendTextLine(const std::wstring& path, const std::wstring& line) {
  Open(path, platform::OpenMode::Append)->Write(text::ToUtf8(line) + "\n");
}

bool WindowsView::CanCreateIn(const std::wstring& dir) {
  Resolved r = Resolve(dir);
  struct stat st {};
  if (r.invalid || !r.dir || ::fstatat(r.dir->fd, r.name.c_str(), &st, 0) != 0 || !S_ISDIR(st.st_mode)) {
    if (r.invalid || !r.dir || r.root) return false;
    Stat(r);  // the name may be spelt otherwise on disk
    if (!r.exists || ::fstatat(r.dir->fd, r.name.c_str(), &st, 0) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return ::faccessat(r.dir->fd, r.name.c_str(), W_OK | X_OK, 0) == 0;
}

}  // namespace posix
