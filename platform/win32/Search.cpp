// Directory searches through FindFirstFileA and FindNextFileA, and the
// attributes of entries. Windows itself matches the wildcards, lists "."
// and ".." and gives the attributes.
#include <cstring>

#include "platform/win32/FileSystem.h"

namespace win32 {

using namespace fs;
using platform::FindEntry;

namespace {

// Can a name found on disk be spelt as one component of a script path? One
// that ends in a dot or a space loses those characters when a path is
// resolved, so it would name another entry; such entries are left out, as
// the interface asks.
bool IsComponentName(const std::wstring& name) {
  if (name.empty() || name.find_first_of(L"\\:/") != std::wstring::npos) return false;
  return name.back() != L'.' && name.back() != L' ';
}

}  // namespace

std::vector<FindEntry> Win32FileSystem::Find(const std::wstring& pattern) {
  if (pattern.empty() || HasNul(pattern)) return {};
  std::wstring dirPart, last;
  SplitLast(pattern, &dirPart, &last);
  if (last.empty()) {
    if (dirPart.empty() || !IsSep(dirPart.back())) return {};  // a bare "C:"
    last = L"*";
  }
  std::string dir, name;
  if (!Resolve(dirPart.empty() ? L"." : dirPart, &dir) || !ToAnsi(last, &name)) return {};
  if (dir.size() >= 2 && dir[1] == ':') {
    const char root[] = {dir[0], ':', '\\', '\0'};
    if (::GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR)
      throw VslError(std::wstring(L"The drive ") + static_cast<wchar_t>(dir[0]) + L": does not exist");
  }
  if (dir.back() != '\\' && dir.back() != '/') dir.push_back('\\');
  return FindFull(dir + name);
}

std::vector<FindEntry> Win32FileSystem::FindFull(const std::string& fullPattern) {
  std::vector<FindEntry> out;
  WIN32_FIND_DATAA data;
  FindHandle search(::FindFirstFileA(fullPattern.c_str(), &data));
  // A search that finds nothing, or a directory that does not exist, gives
  // an empty list.
  if (!search.Valid()) return out;
  do {
    // The name field holds 260 characters and ends at the first NUL.
    std::string ansi(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName));
    std::wstring entry = FromAnsi(ansi);
    if (entry != L"." && entry != L".." && !IsComponentName(entry)) continue;
    out.push_back({std::move(entry), static_cast<std::uint32_t>(data.dwFileAttributes)});
  } while (::FindNextFileA(search.Get(), &data));
  return out;
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
