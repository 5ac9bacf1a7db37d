#include "platform/PathSyntax.h"

namespace platform::path {

const wchar_t* const kInvalidName = L"the name is not valid";

std::wstring Shown(std::wstring_view path) {
  std::wstring out;
  out.reserve(path.size());
  for (wchar_t c : path) {
    if (c == L'\0')
      out += L"<NUL>";
    else
      out.push_back(c);
  }
  return out;
}

void SplitLast(const std::wstring& pattern, std::wstring* dirPart, std::wstring* last) {
  const std::size_t start = HasDrive(pattern) ? 2 : 0;
  const std::size_t sep = pattern.find_last_of(L"\\/");
  if (sep == std::wstring::npos || sep < start) {
    *dirPart = pattern.substr(0, start);
    *last = pattern.substr(start);
  } else {
    *dirPart = pattern.substr(0, sep + 1);
    *last = pattern.substr(sep + 1);
  }
}

bool SplitSearch(const std::wstring& pattern, std::wstring* dirPart, std::wstring* last) {
  SplitLast(pattern, dirPart, last);
  if (last->empty() && !dirPart->empty() && IsSep(dirPart->back())) *last = L"*";
  return !pattern.empty() && !HasNul(pattern) && !last->empty();
}

bool IsComponentName(std::wstring_view name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
  return name.find_first_of(L"\\/:") == std::wstring_view::npos;
}

std::wstring ParentOf(const std::wstring& full) {
  const std::size_t sep = full.find_last_of(L"\\/");
  if (sep == std::wstring::npos) return std::wstring();
  return full.substr(0, sep == 2 && HasDrive(full) ? 3 : sep);
}

std::wstring Join(const std::wstring& dir, const std::wstring& name) {
  return !dir.empty() && IsSep(dir.back()) ? dir + name : dir + L"\\" + name;
}

}  // namespace platform::path
