#include <gtest/gtest.h>

#include "platform/Text.h"

TEST(Utf8, RoundTripsEveryPlane) {
  std::wstring s = L"a\u00e9\u20ac";
  s.push_back(static_cast<wchar_t>(0x1F600));
  EXPECT_EQ(text::FromUtf8(text::ToUtf8(s)), s);
  EXPECT_EQ(text::ToUtf8(L"\u00e9"), "\xC3\xA9");
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(text::FromUtf8("a\xFF" "b"), L"a\uFFFDb");
  EXPECT_EQ(text::FromUtf8("\xC3"), L"\uFFFD");          // truncated sequence
  EXPECT_EQ(text::FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong form
  EXPECT_EQ(text::FromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // surrogate
}

TEST(CaseFolding, ComparesWithoutCase) {
  EXPECT_TRUE(text::EqualsNoCase(L"Software\\ABC", L"software\\abc"));
  EXPECT_TRUE(text::EqualsNoCase(L"\u00c9t\u00e9", L"\u00e9T\u00c9"));
  EXPECT_FALSE(text::EqualsNoCase(L"ab", L"abc"));
  EXPECT_LT(text::CompareNoCase(L"apple", L"Banana"), 0);
  EXPECT_EQ(text::CompareNoCase(L"ABC", L"abc"), 0);
  EXPECT_GT(text::CompareNoCase(L"abcd", L"ABC"), 0);
}

TEST(CaseFolding, FindsWithoutCase) {
  EXPECT_EQ(text::FindNoCase(L"x$(A)y$(a)", L"$(a)"), 1u);
  EXPECT_EQ(text::FindNoCase(L"x$(A)y$(a)", L"$(a)", 2), 6u);
  EXPECT_EQ(text::FindNoCase(L"abc", L"zz"), std::wstring::npos);
}
