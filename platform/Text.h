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
// The same, onto the end of `out` (whose capacity the caller may have set).
void AppendFromUtf8(std::wstring& out, std::string_view bytes);
std::string ToUtf8(std::wstring_view s);

// Case-insensitive comparison by Unicode's simple case folding, the same in
// every process whatever its locale. Two code points are equal without case
// when they have the same simple folding (CaseFolding.txt, status C and S; the
// full foldings that turn one character into several, such as German sharp s
// into "ss", and the Turkic ones are not used). Examples: "a" and "A"; Cyrillic
// "ж" and "Ж"; Greek "σ", "ς" and "Σ"; the Kelvin sign and "k".
//
// Turkish dotted capital I (U+0130) and dotless small i (U+0131) have no
// simple folding, so each equals only itself; "I" and "i" equal each other,
// as in every other language.
//
// Order: each code point has a comparison key, the smallest code point that
// shares its folding, and strings compare by the keys of their code points in
// code-point order. For the letters of ASCII and Latin-1 the key is the
// upper-case letter (where Latin-1 has one: "y" with diaeresis, sharp s and
// micro sign are their own keys), so upper-case letters sort before '_' and
// names keep the order they always had.
//
// Where wchar_t has 16 bits a surrogate pair counts as one code point (a lone
// surrogate as itself). A key lies in the plane of its code point, so folded
// text has the length of the original, unit by unit.

// The comparison key of one code point.
char32_t FoldKey(char32_t c);
// The text with every code point replaced by its comparison key: equal
// without case means equal after folding, and folded strings compared by code
// point (as their UTF-8 compares bytewise) come in the case-insensitive order.
std::wstring Fold(std::wstring_view s);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
// <0, 0, >0 like wcscmp, comparing the comparison keys.
int CompareNoCase(std::wstring_view a, std::wstring_view b);
// Position of the first case-insensitive occurrence of `find` in `s` at or
// after `from`, or npos.
std::size_t FindNoCase(std::wstring_view s, std::wstring_view find, std::size_t from = 0);

// UTF-16 little-endian bytes, as Windows writes Unicode files. An odd last
// byte and a surrogate without its partner become U+FFFD.
std::wstring FromUtf16Le(std::string_view bytes);
std::string ToUtf16Le(std::wstring_view s);

// The Unicode version of the case table, e.g. "15.0.0".
extern const char kCaseFoldingVersion[];
// Names what Fold computes (the method and the Unicode version of its table),
// for data that keeps folded text: when this changes, Fold may give other
// results than those stored.
std::string FoldingIdentity();

// Decimal text of a number.
std::wstring Decimal(long long n);

}  // namespace text
