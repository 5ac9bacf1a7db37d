// Portable text helpers shared by every layer: UTF-8 coding and the
// case-insensitive comparison that file names, registry names and macro
// references use.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Decodes UTF-8; every byte that does not start a valid sequence becomes
// U+FFFD.
std::wstring FromUtf8(std::string_view bytes);
std::string ToUtf8(std::wstring_view s);

// Simple one-to-one case mapping (ASCII, Latin-1 and the rest of the
// Unicode range that towupper knows).
wchar_t FoldUpper(wchar_t c);
std::wstring ToUpper(std::wstring_view s);
std::wstring ToLower(std::wstring_view s);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
// <0, 0, >0 like wcscmp, comparing upper-cased characters.
int CompareNoCase(std::wstring_view a, std::wstring_view b);
// Position of the first case-insensitive occurrence of `find` in `s` at or
// after `from`, or npos.
std::size_t FindNoCase(std::wstring_view s, std::wstring_view find, std::size_t from = 0);

// UTF-16 little-endian bytes, as Windows writes Unicode files. An odd last
// byte and a surrogate without its partner become U+FFFD.
std::wstring FromUtf16Le(std::string_view bytes);
std::string ToUtf16Le(std::wstring_view s);

// Decimal text of a number.
std::wstring Decimal(long long n);

}  // namespace text
