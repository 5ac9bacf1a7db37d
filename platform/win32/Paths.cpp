// Resolving script paths, drives and the current directory of every drive.
#include <vector>

#include "platform/Text.h"
#include "platform/win32/FileSystem.h"

namespace win32 {

using namespace fs;

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string EnvName(char letter) { return std::string("=") + letter + ":"; }

std::string FullPathName(const std::string& path) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return {};
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

// "C:\x\" -> "C:\x"; a root keeps its separator.
std::string WithoutTrailingSep(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

bool DriveExists(char letter) {
  const char root[] = {letter, ':', '\\', '\0'};
  return ::GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR;
}

}  // namespace

char Win32FileSystem::CurrentDriveLetter() {
  std::string cwd = FullPathName(".");
  if (cwd.size() >= 2 && cwd[1] == ':') return UpperAscii(cwd[0]);
  return 0;  // a network path: no drive letter
}

std::string Win32FileSystem::DriveDir(char letter) {
  if (letter == CurrentDriveLetter()) return WithoutTrailingSep(FullPathName("."));
  char value[MAX_PATH + 1];
  DWORD n = ::GetEnvironmentVariableA(EnvName(letter).c_str(), value, sizeof value);
  if (n > 2 && n < sizeof value && UpperAscii(value[0]) == letter && value[1] == ':') return std::string(value, n);
  return std::string(1, letter) + ":\\";
}

bool Win32FileSystem::Resolve(const std::wstring& path, std::string* full) {
  std::string ansi;
  if (path.empty() || !ToAnsi(path, &ansi)) return false;
  // "D:x" on a drive that is not the current one: relative to D:'s own
  // directory, which this backend keeps itself.
  if (HasDrive(path) && (path.size() == 2 || !IsSep(path[2]))) {
    const char letter = UpperAscii(ansi[0]);
    if (letter != CurrentDriveLetter()) {
      std::string base = DriveDir(letter);
      if (base.back() != '\\') base.push_back('\\');
      ansi = base + ansi.substr(2);
    }
  }
  std::string result = FullPathName(ansi);
  if (result.empty()) return false;
  *full = std::move(result);
  return true;
}

std::string Win32FileSystem::ResolveOrRaise(const std::wstring& path, const std::wstring& what) {
  std::string full;
  if (!Resolve(path, &full)) throw VslError(what + L": " + kInvalidName);
  return full;
}

void Win32FileSystem::ChangeDrive(const std::wstring& text) {
  if (text.empty()) return;
  if (!IsLetter(text[0])) throw VslError(L"Cannot change to drive " + text.substr(0, 1) + L": there is no such drive");
  const char letter = UpperAscii(static_cast<char>(text[0]));
  const char current = CurrentDriveLetter();
  if (letter == current) return;
  if (!DriveExists(letter))
    throw VslError(std::wstring(L"The drive ") + static_cast<wchar_t>(letter) + L": does not exist");
  const std::string leaving = WithoutTrailingSep(FullPathName("."));
  const std::string target = DriveDir(letter);
  if (!::SetCurrentDirectoryA(target.c_str())) {
    // The drive's directory has gone meanwhile: its root is left.
    const std::string root = std::string(1, letter) + ":\\";
    if (!::SetCurrentDirectoryA(root.c_str())) {
      const DWORD code = ::GetLastError();
      RaiseError(code, std::wstring(L"Cannot change to drive ") + static_cast<wchar_t>(letter) + L":");
    }
  }
  if (current != 0) ::SetEnvironmentVariableA(EnvName(current).c_str(), leaving.c_str());
  ::SetEnvironmentVariableA(EnvName(letter).c_str(), WithoutTrailingSep(FullPathName(".")).c_str());
}

void Win32FileSystem::ChangeDir(const std::wstring& path) {
  if (path.empty()) throw VslError(L"Cannot change the directory to an empty path");
  const std::wstring what = L"Cannot change the directory to ";
  std::string full;
  if (!Resolve(path, &full)) throw VslError(what + Shown(path) + L": " + kInvalidName);
  full = WithoutTrailingSep(full);
  const DWORD attributes = ::GetFileAttributesA(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what + Shown(full));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw VslError(what + Shown(full) + L": not a directory");
  const bool lettered = full.size() >= 2 && full[1] == ':';
  const char letter = lettered ? UpperAscii(full[0]) : 0;
  if (!lettered || letter == CurrentDriveLetter()) {
    if (!::SetCurrentDirectoryA(full.c_str())) {
      const DWORD code = ::GetLastError();
      RaiseError(code, what + Shown(full));
    }
  }
  if (lettered) ::SetEnvironmentVariableA(EnvName(letter).c_str(), full.c_str());
}

std::wstring Win32FileSystem::CurrentDir() { return FromAnsi(WithoutTrailingSep(FullPathName("."))); }

bool Win32FileSystem::SamePlace(const std::wstring& a, const std::wstring& b) {
  std::string x, y;
  if (!Resolve(a, &x) || !Resolve(b, &y)) return false;
  // The long form of a name that exists, so that a short 8.3 alias and the
  // long name are one place.
  auto longForm = [](std::string p) {
    p = WithoutTrailingSep(p);
    char buffer[MAX_PATH + 1];
    DWORD n = ::GetLongPathNameA(p.c_str(), buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) return std::string(buffer, n);
    return p;
  };
  return text::EqualsNoCase(FromAnsi(longForm(x)), FromAnsi(longForm(y)));
}

bool Win32FileSystem::SameFile(const std::wstring& a, const std::wstring& b) {
  // The volume and the file index name a file, whatever the path that led
  // to it; opening follows links.
  auto identity = [this](const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
    std::string full;
    if (!Resolve(path, &full)) return false;
    Handle h(::CreateFileA(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.Valid() && ::GetFileInformationByHandle(h.Get(), info);
  };
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  if (!identity(a, &x) || !identity(b, &y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace win32
