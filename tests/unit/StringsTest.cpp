#include <gtest/gtest.h>

#include "platform/Error.h"
#include "utility/Strings.h"

using namespace Utility;

TEST(Strings, IsQuoted) {
  EXPECT_TRUE(IsQuoted(L"\"a\""));
  EXPECT_TRUE(IsQuoted(L"\"\""));
  EXPECT_FALSE(IsQuoted(L"\""));
  EXPECT_FALSE(IsQuoted(L"\"abc"));
  EXPECT_FALSE(IsQuoted(L"abc\""));
  EXPECT_FALSE(IsQuoted(L""));
}

TEST(Strings, StripQuotes) {
  EXPECT_EQ(StripQuotes(L"\"C:\\a b\""), L"C:\\a b");
  EXPECT_EQ(StripQuotes(L"\"\""), L"");
  EXPECT_EQ(StripQuotes(L"\"\"x\"\""), L"\"x\"");
  EXPECT_EQ(StripQuotes(L"\"abc"), L"abc");
  EXPECT_EQ(StripQuotes(L"abc\""), L"abc\"");
  EXPECT_EQ(StripQuotes(L"a\"b"), L"a\"b");
  EXPECT_EQ(StripQuotes(L"x"), L"");
  EXPECT_EQ(StripQuotes(L"\""), L"");
}

TEST(Strings, StripMacroRef) {
  EXPECT_EQ(StripMacroRef(L"$(a)"), L"a");
  EXPECT_EQ(StripMacroRef(L"$(name)"), L"name");
  EXPECT_EQ(StripMacroRef(L"$()"), L"");
  EXPECT_EQ(StripMacroRef(L"$(abc"), L"abc");
  EXPECT_EQ(StripMacroRef(L"abcd"), L"");
  EXPECT_EQ(StripMacroRef(L"$(A$(B)"), L"A$(B");
}

TEST(Strings, ReplaceAllIgnoresCaseAndNeverRescans) {
  EXPECT_EQ(ReplaceAll(L"x$(A)y$(a)", L"$(a)", L"1"), L"x1y1");
  EXPECT_EQ(ReplaceAll(L"aaa", L"a", L"aa"), L"aaaaaa");
  EXPECT_EQ(ReplaceAll(L"aaaa", L"aa", L"a"), L"aa");
  EXPECT_EQ(ReplaceAll(L"Hello World", L"O", L""), L"Hell Wrld");
  EXPECT_EQ(ReplaceAll(L"abc", L"x", L"y"), L"abc");
  EXPECT_EQ(ReplaceAll(L"", L"x", L"y"), L"");
  EXPECT_EQ(ReplaceAll(L"\u00c9t\u00e9", L"\u00e9", L"e"), L"ete");
  EXPECT_EQ(ReplaceAll(L"abc", L"", L"y"), L"abc");
}

TEST(Strings, HasDriveLetter) {
  EXPECT_TRUE(HasDriveLetter(L"C:\\"));
  EXPECT_TRUE(HasDriveLetter(L"C:x"));
  EXPECT_FALSE(HasDriveLetter(L"C:"));
  EXPECT_FALSE(HasDriveLetter(L"\\x:y"));
  EXPECT_FALSE(HasDriveLetter(L""));
}

TEST(Strings, ToInt32AcceptsSignedDecimals) {
  EXPECT_EQ(ToInt32(L"0"), 0);
  EXPECT_EQ(ToInt32(L"42"), 42);
  EXPECT_EQ(ToInt32(L" \t-17 "), -17);
  EXPECT_EQ(ToInt32(L"+007"), 7);
  EXPECT_EQ(ToInt32(L"2147483647"), 2147483647);
  EXPECT_EQ(ToInt32(L"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ToInt32(L"000000000000000000001"), 1);
}

namespace {
std::wstring ConversionError(const std::wstring& text) {
  try {
    ToInt32(text);
  } catch (const VslError& e) {
    return e.Description();
  }
  return L"(no error)";
}
}  // namespace

TEST(Strings, ToInt32RejectsEverythingElse) {
  EXPECT_EQ(ConversionError(L"abc"),
            L"Cannot convert \"abc\" to a number: it is not a signed 32-bit decimal number");
  for (const wchar_t* bad : {L"", L"  ", L"-", L"+", L"1.5", L"1e3", L"12a", L"- 1", L"1 2", L"0x10", L"--1",
                             L"\u0661", L"1\n"}) {
    EXPECT_EQ(ConversionError(bad),
              L"Cannot convert \"" + std::wstring(bad) + L"\" to a number: it is not a signed 32-bit decimal number");
  }
  EXPECT_EQ(ConversionError(L"99999999999"),
            L"Cannot convert \"99999999999\" to a number: it is outside the signed 32-bit range");
  EXPECT_EQ(ConversionError(L"2147483648"),
            L"Cannot convert \"2147483648\" to a number: it is outside the signed 32-bit range");
  EXPECT_EQ(ConversionError(L"-2147483649"),
            L"Cannot convert \"-2147483649\" to a number: it is outside the signed 32-bit range");
  EXPECT_EQ(ConversionError(L"123456789012345678901234567890"),
            L"Cannot convert \"123456789012345678901234567890\" to a number: it is outside the signed 32-bit range");
}
