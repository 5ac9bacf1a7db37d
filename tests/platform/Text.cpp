// UTF-8 decoding and names without case, the same on every platform (round trips: the Unicode scripts).
#include <gtest/gtest.h>

#include "platform/Text.h"

TEST(Utf8, ReplacesInvalidBytes) {
  // Stray byte, cut short, overlong form, surrogate, above U+10FFFF.
  const std::pair<const char*, const wchar_t*> invalid[] = {{"a\xFF" "b", L"a\uFFFDb"}, {"\xC3", L"\uFFFD"},
      {"\xC0\xAF", L"\uFFFD\uFFFD"}, {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"}};
  for (auto [bytes, expected] : invalid) EXPECT_EQ(text::FromUtf8(bytes), expected) << bytes;
  // The first and last supplementary code points, and lone surrogates (after é, and at the end), both ways.
  EXPECT_EQ(text::ToUtf8(L"\U00010000\U0010FFFF\u00e9\xDC00\xD800"),
            "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(text::ToUtf16Le(L"\U00010000"), std::string("\x00\xD8\x00\xDC", 4));
  EXPECT_EQ(text::FromUtf16Le(std::string("\x00\xD8\x00\xDC", 4)), L"\U00010000");
}

TEST(CaseFolding, EqualityFollowsSimpleCaseFolding) {
  // Cyrillic файл/ФАЙЛ, ё/Ё/е; Greek σ/ς/Σ; Turkish İ and ı match only themselves;
  // Kelvin sign; ß/ẞ but no full folding; Deseret capital and small.
  const struct { const wchar_t *a, *b; bool equal; } cases[] = {
      {L"Software\\ABC", L"software\\abc", true}, {L"\u00c9t\u00e9", L"\u00e9T\u00c9", true}, {L"ab", L"abc", false},
      {L"\u0444\u0430\u0439\u043b", L"\u0424\u0410\u0419\u041b", true}, {L"\u0451", L"\u0401", true},
      {L"\u0451", L"\u0435", false},
      {L"\u03c3", L"\u03a3", true}, {L"\u03c2", L"\u03a3", true}, {L"\u03c3", L"\u03c2", true}, {L"I", L"i", true},
      {L"\u0130", L"i", false}, {L"\u0130", L"I", false}, {L"\u0131", L"I", false}, {L"\u0131", L"i", false},
      {L"\u0130", L"\u0131", false}, {L"\u0130", L"\u0130", true}, {L"\u212a", L"k", true}, {L"\u00df", L"\u1e9e", true},
      {L"\u00df", L"ss", false}, {L"\U00010400", L"\U00010428", true}, {L"\U00010400", L"\U00010401", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(text::ToUtf8(c.a) + " / " + text::ToUtf8(c.b));
    EXPECT_EQ(text::EqualsNoCase(c.a, c.b), c.equal);
    EXPECT_EQ(text::EqualsNoCase(c.b, c.a), c.equal);
    EXPECT_EQ(text::CompareNoCase(c.a, c.b) == 0, c.equal);
    EXPECT_EQ(text::Fold(c.a) == text::Fold(c.b), c.equal);
  }
}

TEST(CaseFolding, OrdersByTheSmallestCodePointOfEachFolding) {
  // Each sorts before the next: letters before '_'; à; ÿ its own key above Latin-1; Ā, ā+more;
  // ς (key Σ), Τ; ё, а, Б, я; fullwidth A below every supplementary code point; Deseret small I.
  const wchar_t* const order[] = {L"a", L"B", L"b2", L"C", L"_x", L"\u00e0", L"\u00ff", L"\u0100", L"\u0101a",
      L"\u03c2", L"\u03a4", L"\u0451", L"\u0430", L"\u0411", L"\u044f", L"\uff21", L"\U00010428"};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    SCOPED_TRACE(text::ToUtf8(order[i]) + " < " + text::ToUtf8(order[i + 1]));
    EXPECT_LT(text::CompareNoCase(order[i], order[i + 1]), 0);
    EXPECT_GT(text::CompareNoCase(order[i + 1], order[i]), 0);
    // Folded UTF-8 compares bytewise the same way (the registry's ORDER BY).
    EXPECT_LT(text::ToUtf8(text::Fold(order[i])), text::ToUtf8(text::Fold(order[i + 1])));
  }
  EXPECT_GT(text::CompareNoCase(L"abcd", L"ABC"), 0);
  EXPECT_EQ(text::Fold(L"\u0444\u0430\u0439\u043b.txt_\u00ff"), L"\u0424\u0410\u0419\u041b.TXT_\u00ff");
  // Finding without case.
  EXPECT_EQ(text::FindNoCase(L"x$(A)y$(a)", L"$(a)", 2), 6u);
  EXPECT_EQ(text::FindNoCase(L"abc", L"c", 3), std::wstring::npos);
  EXPECT_EQ(text::FindNoCase(L"\u043f\\\u0424\u0410\u0419\u041b", L"\u0439\u043b"), 4u);  // п\ФАЙЛ, йл
  EXPECT_EQ(text::FindNoCase(L"x\U00010400y", L"\U00010428Y"), 1u);
}
