// Creating, deleting, copying and opening files and directories through
// kernel32. Windows enforces the read-only attribute itself; the checks made
// here first only give the failure a plainer reason.
#include <algorithm>
#include <string_view>

#include "platform/win32/FileSystem.h"

namespace win32 {

using namespace fs;
using platform::FindEntry;

namespace {

bool Exists(DWORD attributes) { return attributes != INVALID_FILE_ATTRIBUTES; }
bool IsDir(DWORD attributes) { return Exists(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsLink(DWORD attributes) { return Exists(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsReadOnlyFile(DWORD attributes) {
  return Exists(attributes) && !IsDir(attributes) && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}
bool IsRoot(const std::string& full) {
  return (full.size() == 3 && full[1] == ':') || full == "\\" || full == "/";
}

class Win32File : public platform::File {
 public:
  Win32File(HANDLE h, std::wstring name) : handle_(h), name_(std::move(name)) {}
  std::string ReadAll() override {
    std::string out;
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(handle_.Get(), buffer, sizeof buffer, &got, nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_BROKEN_PIPE) break;  // a pipe's writer has finished
        RaiseError(code, L"Cannot read " + name_);
      }
      if (got == 0) break;
      out.append(buffer, got);
    }
    return out;
  }
  std::size_t Read(char* buffer, std::size_t size) override {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(handle_.Get(), buffer, want, &got, nullptr)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_BROKEN_PIPE) return 0;  // a pipe's writer has finished
      RaiseError(code, L"Cannot read " + name_);
    }
    return got;
  }
  void Write(const std::string& bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(handle_.Get(), bytes.data() + done, chunk, &written, nullptr)) {
        const DWORD code = ::GetLastError();
        RaiseError(code, L"Cannot write to " + name_);
      }
      done += written;
    }
  }

 private:
  Handle handle_;
  std::wstring name_;
};

}  // namespace

void Win32FileSystem::CreateDir(const std::wstring& path) {
  const std::wstring what = L"Cannot create the directory ";
  std::string full;
  if (!Resolve(path, &full)) throw VslError(what + Shown(path) + L": " + kInvalidName);
  if (!::CreateDirectoryA(full.c_str(), nullptr)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what + Shown(full));
  }
}

void Win32FileSystem::RemoveDir(const std::wstring& path) {
  const std::wstring what = L"Cannot remove the directory ";
  std::string full;
  if (!Resolve(path, &full)) throw VslError(what + Shown(path) + L": " + kInvalidName);
  if (IsRoot(full)) throw VslError(what + Shown(full) + L": it is the root of the drive");
  if (!::RemoveDirectoryA(full.c_str())) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what + Shown(full));
  }
}

void Win32FileSystem::RemoveFile(const std::wstring& path) {
  std::string full;
  if (!Resolve(path, &full)) throw VslError(L"Cannot delete " + Shown(path) + L": " + kInvalidName);
  const std::wstring what = L"Cannot delete " + Shown(full);
  const DWORD attributes = ::GetFileAttributesA(full.c_str());
  if (!Exists(attributes)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
  BOOL done;
  if (IsDir(attributes)) {
    // A link to a directory is deleted as a link; a real directory is not a
    // file.
    if (!IsLink(attributes)) throw VslError(what + L": it is a directory");
    done = ::RemoveDirectoryA(full.c_str());
  } else {
    if (IsReadOnlyFile(attributes)) throw VslError(what + L": the file is read-only");
    done = ::DeleteFileA(full.c_str());
  }
  if (!done) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
}

void Win32FileSystem::RemoveMatching(const std::wstring& pattern) {
  std::wstring dirPart, last;
  SplitLast(pattern, &dirPart, &last);
  for (const FindEntry& e : Find(pattern))
    if ((e.attributes & platform::kAttrNotPlain) == 0) RemoveFile(dirPart + e.name);
}

void Win32FileSystem::CopyWholeFile(const std::wstring& source, const std::wstring& target) {
  std::string s, t;
  const bool valid = Resolve(source, &s) & Resolve(target, &t);
  const std::wstring what = L"Cannot copy " + (s.empty() ? Shown(source) : Shown(s)) + L" to " +
                            (t.empty() ? Shown(target) : Shown(t));
  if (!valid) throw VslError(what + L": " + kInvalidName);
  const DWORD sa = ::GetFileAttributesA(s.c_str());
  if (!Exists(sa)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
  if (IsDir(sa) && !IsLink(sa)) throw VslError(what + L": the source is a directory");
  const DWORD ta = ::GetFileAttributesA(t.c_str());
  if (Exists(ta)) {
    if (IsDir(ta) && !IsLink(ta)) throw VslError(what + L": the target is a directory");
    if (SamePlace(source, target)) throw VslError(what + L": it is the same file");
    if (IsReadOnlyFile(ta)) throw VslError(what + L": the target is read-only");
  }
  // CopyFile keeps the source's attributes; a link is copied as a link.
  const BOOL done = IsLink(sa) ? ::CopyFileExA(s.c_str(), t.c_str(), nullptr, nullptr, nullptr, COPY_FILE_COPY_SYMLINK)
                               : ::CopyFileA(s.c_str(), t.c_str(), FALSE);
  if (!done) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
}

std::unique_ptr<platform::File> Win32FileSystem::Open(const std::wstring& path, platform::OpenMode mode) {
  const wchar_t* how = mode == platform::OpenMode::Read     ? L" for reading"
                       : mode == platform::OpenMode::Append ? L" for appending"
                                                            : L" for writing";
  std::string full;
  if (!Resolve(path, &full)) throw VslError(L"Cannot open " + Shown(path) + how + L": " + kInvalidName);
  const std::wstring what = L"Cannot open " + Shown(full) + how;
  const DWORD attributes = ::GetFileAttributesA(full.c_str());
  if (IsDir(attributes)) throw VslError(what + L": it is a directory");
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode == platform::OpenMode::CreatePrivate) {
    // CREATE_NEW refuses any entry of that name, a link included. The file
    // gets the access rights its directory hands down.
    access = GENERIC_WRITE;
    disposition = CREATE_NEW;
  } else if (mode != platform::OpenMode::Read) {
    if (IsReadOnlyFile(attributes)) throw VslError(what + L": the file is read-only");
    // OPEN_ALWAYS, and cutting afterwards, keeps a hidden or system file's
    // attributes, where CREATE_ALWAYS would refuse such a file.
    access = mode == platform::OpenMode::Write ? GENERIC_WRITE : (FILE_APPEND_DATA | SYNCHRONIZE);
    disposition = OPEN_ALWAYS;
  }
  HANDLE h = ::CreateFileA(full.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
  auto file = std::make_unique<Win32File>(h, FromAnsi(full));
  if (mode == platform::OpenMode::Write && !::SetEndOfFile(h)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what);
  }
  return file;
}

std::wstring Win32FileSystem::ReadTextFile(const std::wstring& path) {
  std::string bytes = Open(path, platform::OpenMode::Read)->ReadAll();
  std::string_view view(bytes);
  if (view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);
  return FromAnsi(view);
}

void Win32FileSystem::AppendTextLine(const std::wstring& path, const std::wstring& line) {
  Open(path, platform::OpenMode::Append)->Write(ToAnsiLossy(line) + "\r\n");
}

bool Win32FileSystem::CanCreateIn(const std::wstring& dir) {
  std::string full;
  if (!Resolve(dir, &full) || !IsDir(::GetFileAttributesA(full.c_str()))) return false;
  // Opening the directory for adding a file makes Windows check this
  // process's rights (its token against the directory's security) without
  // creating anything.
  Handle h(::CreateFileA(full.c_str(), FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.Valid();
}

}  // namespace win32
