// What the undo journal of an atomic run needs of the file system: the
// stamp of an entry, moving an entry aside and back within its volume,
// putting a file's size, attributes and time back, deleting a saved tree,
// and the locked journal file itself.
#include <cstring>
#include <vector>

#include "platform/win32/FileSystem.h"

namespace win32 {

using namespace fs;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::int64_t Ticks(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

FILETIME FileTimeOf(std::int64_t ticks) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  t.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return t;
}

// Opens an entry itself, a link as a link and a directory as well.
HANDLE OpenEntry(const std::string& full, DWORD access) {
  return ::CreateFileA(full.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A byte range far past any journal's end: holding it tells other processes
// that the journal's run is alive, and reading the journal stays possible.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

class Win32LockedFile : public platform::LockedFile {
 public:
  Win32LockedFile(HANDLE h, std::wstring name) : handle_(h), name_(std::move(name)) {}
  ~Win32LockedFile() override {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(handle_.Get(), 0, 1, 0, &at);
  }
  std::string ReadAll() override {
    std::string out;
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(handle_.Get(), zero, nullptr, FILE_BEGIN)) Fail(L"Cannot read ");
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(handle_.Get(), buffer, sizeof buffer, &got, nullptr)) Fail(L"Cannot read ");
      if (got == 0) return out;
      out.append(buffer, got);
    }
  }
  void Append(const std::string& bytes, bool durable) override {
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(handle_.Get(), zero, nullptr, FILE_END)) Fail(L"Cannot write to ");
    DWORD written = 0;
    if (!::WriteFile(handle_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
      Fail(L"Cannot write to ");
    if (durable && !::FlushFileBuffers(handle_.Get())) Fail(L"Cannot write to ");
  }

 private:
  [[noreturn]] void Fail(const wchar_t* what) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what + name_);
  }
  Handle handle_;
  std::wstring name_;
};

}  // namespace

std::wstring Win32FileSystem::FullPath(const std::wstring& path) {
  std::string full;
  if (!Resolve(path, &full)) return Shown(path);
  // The last name as it is spelt on disk, where the entry exists.
  WIN32_FIND_DATAA found;
  FindHandle search(::FindFirstFileA(full.c_str(), &found));
  const std::size_t sep = full.find_last_of("\\/");
  if (search.Valid() && sep != std::string::npos && sep + 1 < full.size())
    full = full.substr(0, sep + 1) + found.cFileName;
  return FromAnsi(full);
}

platform::EntryStamp Win32FileSystem::Stamp(const std::wstring& path) {
  platform::EntryStamp stamp;
  std::string full;
  if (!Resolve(path, &full)) return stamp;
  Handle h(OpenEntry(full, 0));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info)) return stamp;
  const DWORD a = info.dwFileAttributes;
  stamp.exists = true;
  stamp.directory = (a & FILE_ATTRIBUTE_DIRECTORY) != 0 && (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  stamp.readOnly = (a & FILE_ATTRIBUTE_READONLY) != 0 && !stamp.directory;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.identity = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modified = Ticks(info.ftLastWriteTime);
  stamp.permissions = a;
  return stamp;
}

bool Win32FileSystem::MoveEntry(const std::wstring& from, const std::wstring& to) {
  std::string s, t;
  const bool valid = Resolve(from, &s) & Resolve(to, &t);
  const std::wstring what = L"Cannot move " + Shown(s.empty() ? from : FromAnsi(s)) + L" to " +
                            Shown(t.empty() ? to : FromAnsi(t));
  if (!valid) throw VslError(what + L": " + kInvalidName);
  // Without MOVEFILE_COPY_ALLOWED a move never copies, and without
  // MOVEFILE_REPLACE_EXISTING it never replaces.
  if (!::MoveFileExA(s.c_str(), t.c_str(), 0)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_NOT_SAME_DEVICE) return false;
    RaiseError(code, what);
  }
  return true;
}

void Win32FileSystem::RestoreStamp(const std::wstring& path, const platform::EntryStamp& stamp) {
  const std::string full = ResolveOrRaise(path, L"Cannot restore " + Shown(path));
  const std::wstring what = L"Cannot restore " + Shown(FromAnsi(full));
  const DWORD now = ::GetFileAttributesA(full.c_str());
  const bool directory = now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A file is writable for the moment, then gets the attributes it had; a
  // directory gets its time back.
  if (!directory && !::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
  Handle h(OpenEntry(full, directory ? FILE_WRITE_ATTRIBUTES : GENERIC_WRITE));
  LARGE_INTEGER size;
  size.QuadPart = static_cast<LONGLONG>(stamp.size);
  const FILETIME modified = FileTimeOf(stamp.modified);
  const bool done =
      h.Valid() && (directory || (::SetFilePointerEx(h.Get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(h.Get()))) &&
      ::SetFileTime(h.Get(), nullptr, nullptr, &modified);
  const DWORD code = ::GetLastError();
  h.Reset();
  const bool attributes = ::SetFileAttributesA(full.c_str(), directory ? now : stamp.permissions);
  if (!done) RaiseError(code, what);
  if (!attributes) {
    const DWORD failure = ::GetLastError();
    RaiseError(failure, what);
  }
}

bool Win32FileSystem::SameContent(const std::wstring& a, const std::wstring& b) {
  std::string x, y;
  if (!Resolve(a, &x) || !Resolve(b, &y)) return false;
  auto open = [](const std::string& full, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE h = ::CreateFileA(full.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h != INVALID_HANDLE_VALUE &&
        (!::GetFileInformationByHandle(h, info) ||
         (info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)) {
      ::CloseHandle(h);
      h = INVALID_HANDLE_VALUE;
    }
    return h;
  };
  BY_HANDLE_FILE_INFORMATION ix, iy;
  Handle hx(open(x, &ix));
  if (!hx.Valid()) return false;
  Handle hy(open(y, &iy));
  if (!hy.Valid() || ix.nFileSizeHigh != iy.nFileSizeHigh || ix.nFileSizeLow != iy.nFileSizeLow) return false;
  if (ix.dwVolumeSerialNumber == iy.dwVolumeSerialNumber && ix.nFileIndexHigh == iy.nFileIndexHigh &&
      ix.nFileIndexLow == iy.nFileIndexLow)
    return false;
  std::vector<char> bx(65536), by(65536);
  for (;;) {
    DWORD nx = 0, ny = 0;
    if (!::ReadFile(hx.Get(), bx.data(), static_cast<DWORD>(bx.size()), &nx, nullptr) ||
        !::ReadFile(hy.Get(), by.data(), nx, &ny, nullptr) || nx != ny)
      return false;
    if (nx == 0) return true;
    if (std::memcmp(bx.data(), by.data(), nx) != 0) return false;
  }
}

void Win32FileSystem::CopyStamp(const std::wstring& source, const std::wstring& target) {
  std::string s, t;
  const bool valid = Resolve(source, &s) & Resolve(target, &t);
  const std::wstring what = L"Cannot copy " + Shown(source) + L" to " + Shown(target);
  if (!valid) throw VslError(what + L": " + kInvalidName);
  // CopyFile gives the copy the source's attributes and its time of the
  // last write.
  BY_HANDLE_FILE_INFORMATION info;
  {
    Handle h(OpenEntry(s, 0));
    if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info)) {
      const DWORD code = ::GetLastError();
      RaiseError(code, what);
    }
  }
  bool done = ::SetFileAttributesA(t.c_str(), FILE_ATTRIBUTE_NORMAL);
  {
    Handle h(done ? OpenEntry(t, FILE_WRITE_ATTRIBUTES) : INVALID_HANDLE_VALUE);
    done = h.Valid() && ::SetFileTime(h.Get(), nullptr, nullptr, &info.ftLastWriteTime);
  }
  done = ::SetFileAttributesA(t.c_str(), info.dwFileAttributes) && done;
  if (!done) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
}

void Win32FileSystem::RemoveTree(const std::wstring& path) {
  std::string full;
  if (!Resolve(path, &full)) throw VslError(L"Cannot delete " + Shown(path) + L": " + kInvalidName);
  const DWORD a = ::GetFileAttributesA(full.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  const std::wstring what = L"Cannot delete " + Shown(FromAnsi(full));
  if ((a & FILE_ATTRIBUTE_READONLY) != 0) ::SetFileAttributesA(full.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
  BOOL done;
  if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    done = ::DeleteFileA(full.c_str());
  } else {
    // A link to a directory goes as a link; a directory is emptied first.
    if ((a & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      WIN32_FIND_DATAA e;
      std::vector<std::string> names;
      {
        FindHandle search(::FindFirstFileA((full + "\\*").c_str(), &e));
        if (search.Valid()) {
          do {
            if (std::strcmp(e.cFileName, ".") != 0 && std::strcmp(e.cFileName, "..") != 0) names.push_back(e.cFileName);
          } while (::FindNextFileA(search.Get(), &e));
        }
      }
      for (const std::string& name : names) RemoveTree(FromAnsi(full + "\\" + name));
    }
    done = ::RemoveDirectoryA(full.c_str());
  }
  if (!done) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
}

std::unique_ptr<platform::LockedFile> Win32FileSystem::OpenLocked(const std::wstring& path, bool create) {
  const std::string full = ResolveOrRaise(path, L"Cannot open " + Shown(path));
  const std::wstring name = Shown(FromAnsi(full));
  // Shared for deleting: the journal goes while its owner still holds it.
  HANDLE raw = ::CreateFileA(full.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                             create ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // Gone, or being deleted by its owner: nobody's journal any more.
    if (!create && (code == ERROR_FILE_NOT_FOUND || code == ERROR_ACCESS_DENIED)) return nullptr;
    RaiseError(code, L"Cannot open " + name);
  }
  Handle h(raw);
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (!::LockFileEx(h.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return nullptr;
    RaiseError(code, L"Cannot lock " + name);
  }
  FILE_STANDARD_INFO info{};
  if (::GetFileInformationByHandleEx(h.Get(), FileStandardInfo, &info, sizeof info) && info.DeletePending)
    return nullptr;
  return std::make_unique<Win32LockedFile>(h.Release(), name);
}

}  // namespace win32
