// Directory searches through FindFirstFileA and FindNextFileA, and the
// attributes of entries. Windows itself matches the wildcards, lists "."
// and ".." and gives the attributes.
#include <cstring>

#include "platform/win32/FileSystem.h"

namespace win32 {

using namespace fs;
using platform::FindEntry;

namespace {

using platform::path::IsComponentName;

}  // namespace

std::vector<FindEntry> Win32FileSystem::Find(const std::wstring& pattern) { return FindIn(pattern, false); }

std::vector<FindEntry> Win32FileSystem::FindOrFail(const std::wstring& pattern) { return FindIn(pattern, true); }

std::vector<FindEntry> Win32FileSystem::FindIn(const std::wstring& pattern, bool strict) {
  auto invalid = [&]() -> std::vector<FindEntry> {
    if (strict) throw VslError(L"Cannot list " + Shown(pattern) + L": " + kInvalidName);
    return {};
  };
  std::wstring dirPart, last;
  if (!platform::path::SplitSearch(pattern, &dirPart, &last)) return invalid();
  std::string dir, name;
  if (!Resolve(dirPart.empty() ? L"." : dirPart, &dir) || !ToAnsi(last, &name)) return invalid();
  if (dir.size() >= 2 && dir[1] == ':') {
    const char root[] = {dir[0], ':', '\\', '\0'};
    if (::GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR)
      throw VslError(std::wstring(L"The drive ") + static_cast<wchar_t>(dir[0]) + L": does not exist");
  }
  if (dir.back() != '\\' && dir.back() != '/') dir.push_back('\\');
  return FindFull(dir + name, strict);
}

std::vector<FindEntry> Win32FileSystem::FindFull(const std::string& fullPattern, bool strict) {
  std::vector<FindEntry> out;
  WIN32_FIND_DATAA data;
  FindHandle search(::FindFirstFileA(fullPattern.c_str(), &data));
  if (!search.Valid()) {
    // Nothing matches in a directory that exists: an empty list. Any other
    // failure (no such directory, no permission, a path too long for the
    // call) is an empty list to Find only.
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || !strict) return out;
    const std::size_t sep = fullPattern.find_last_of("\\/");
    RaiseError(code,
               L"Cannot list the directory " + Shown(fullPattern.substr(0, sep == std::string::npos ? 0 : sep + 1)));
  }
  do {
    // The name field holds 260 characters and ends at the first NUL.
    std::string ansi(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName));
    std::wstring entry = FromAnsi(ansi);
    if (entry != L"." && entry != L".." && !IsComponentName(entry)) continue;
    out.push_back({std::move(entry), static_cast<std::uint32_t>(data.dwFileAttributes)});
  } while (::FindNextFileA(search.Get(), &data));
  if (const DWORD code = ::GetLastError(); strict && code != ERROR_NO_MORE_FILES)
    RaiseError(code, L"Cannot list the directory " + Shown(fullPattern));
  return out;
}

bool Win32FileSystem::IsRegularFile(const std::wstring& path) {
  std::string full;
  if (!Resolve(path, &full)) return false;
  const DWORD attributes = ::GetFileAttributesA(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0)
    return false;
  // A device name (NUL, CON, COM1) answers with attributes of a file: what
  // the name opens tells.
  Handle h(::CreateFileA(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return h.Valid() && ::GetFileType(h.Get()) == FILE_TYPE_DISK;
}

std::uint32_t Win32FileSystem::GetAttributes(const std::wstring& path) {
  std::string full;
  if (!Resolve(path, &full)) return platform::kInvalidAttributes;
  return ::GetFileAttributesA(full.c_str());
}

void Win32FileSystem::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
  const std::wstring what = L"Cannot set the attributes of ";
  std::string full;
  if (!Resolve(path, &full)) throw VslError(what + Shown(path) + L": " + kInvalidName);
  // The bits SetFileAttributes takes; none of them is "normal".
  constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD wanted = attributes & kSettable;
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileAttributesA(full.c_str(), wanted)) {
    const DWORD code = ::GetLastError();
    RaiseError(code, what + Shown(full));
  }
}

}  // namespace win32
