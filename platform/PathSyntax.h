// The syntax of script paths, the same on every platform: '\' and '/' both
// separate components, "X:" at the start names a drive, and a path holding a
// NUL names nothing (the operating system would read it only up to the NUL
// and reach another file). Both backends and the layers above read paths
// through these rules.
#pragma once

#include <string>
#include <string_view>

namespace platform::path {

inline bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }
inline bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
inline wchar_t UpperLetter(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }
// Whether the path starts with a drive ("C:", "c:x").
inline bool HasDrive(std::wstring_view p) { return p.size() >= 2 && p[1] == L':' && IsLetter(p[0]); }
inline bool HasNul(std::wstring_view s) { return s.find(L'\0') != std::wstring_view::npos; }

// The reason given for a path that names nothing.
extern const wchar_t* const kInvalidName;

// A path as a message shows it: a NUL is shown, not written, so that the
// message is not cut at it.
std::wstring Shown(std::wstring_view path);

// Splits a pattern into the part that names the directory (possibly "",
// "C:" or ending in a separator) and its last component.
void SplitLast(const std::wstring& pattern, std::wstring* dirPart, std::wstring* last);

// A directory search's pattern as both backends read it: its directory part
// and its last component, which is "*" for a pattern that ends in a
// separator. False for a pattern that names nothing to search: empty, with
// a NUL, or a bare drive ("C:").
bool SplitSearch(const std::wstring& pattern, std::wstring* dirPart, std::wstring* last);

// Whether a name found on disk can be spelt as one component of a script
// path. A name holding a separator or ':' would be split or read as a
// drive, and one that ends in a dot or a space (all-dot names such as "..."
// among them) loses those characters when a path is resolved, so it would
// name another entry, often the directory itself or its parent. Searches
// leave such entries out, so that no operation walking a tree can be led
// outside it.
bool IsComponentName(std::wstring_view name);

// Full drive-form paths: the directory holding an entry ("Z:\a\b" -> "Z:\a",
// "Z:\a" -> "Z:\") and an entry of a directory.
std::wstring ParentOf(const std::wstring& full);
std::wstring Join(const std::wstring& dir, const std::wstring& name);

}  // namespace platform::path
