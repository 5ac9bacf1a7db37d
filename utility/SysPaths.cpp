// The Windows directory, the temporary directory and temporary names.
#include "platform/Platform.h"
#include "utility/Utility.h"

namespace Utility {

namespace {
// Paths are read into buffers of 255 characters: a longer one is not
// obtained at all.
constexpr std::size_t kPathBuffer = 255;
}  // namespace

std::wstring GetWinDir() {
  std::wstring dir = platform::Sys().WindowsDir();
  if (dir.size() >= kPathBuffer) return L"";
  return dir;
}

bool IsWindowsNT() { return platform::Sys().IsWindowsNT(); }

std::wstring GetTempDir() {
  try {
    std::wstring dir = platform::Sys().TempDir();
    if (dir.size() >= kPathBuffer) return L"";
    if (!dir.empty()) return dir;
    if (IsDirExists(L"C:\\temp")) return L"C:\\temp\\";
    return L"";
  } catch (const VslError&) {
    return L"";
  }
}

std::wstring MakeTempFileName() {
  try {
    std::wstring dir = GetTempDir();
    return platform::Sys().MakeTempFile(dir, L"DSK");
  } catch (const VslError&) {
    return L"";
  }
}

std::wstring MakeScriptCopyFile() {
  std::wstring dir = platform::Sys().TempDir();
  if (dir.empty() && IsDirExists(L"C:\\temp")) dir = L"C:\\temp\\";
  if (dir.empty()) throw VslError(L"Cannot create a temporary file: the system names no temporary directory");
  return platform::Sys().MakeTempFile(dir, L"DSK");
}

std::wstring CreateTempName() {
  try {
    std::wstring dir = platform::Sys().TempDir();
    if (dir.size() >= kPathBuffer) dir.clear();
    std::wstring name = platform::Sys().MakeTempFile(dir, L"DSK");
    // The name is handed out free: the file that reserved it goes again.
    platform::Fs().RemoveFile(name);
    return name;
  } catch (const VslError&) {
    return L"";
  }
}

}  // namespace Utility
