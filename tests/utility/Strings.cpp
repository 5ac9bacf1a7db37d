// The string helpers of the utility layer.
#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/Text.h"
#include "utility/Strings.h"

using namespace Utility;

TEST(Strings, QuotesMacroRefsAndDrives) {
  const struct { std::wstring in; bool quoted; std::wstring stripped; bool drive; } cases[] = {
      {L"\"C:\\a b\"", true, L"C:\\a b", false}, {L"\"\"", true, L"", false}, {L"\"\"x\"\"", true, L"\"x\"", false},
      {L"\"", false, L"", false}, {L"\"abc", false, L"abc", false}, {L"abc\"", false, L"abc\"", false},
      {L"a\"b", false, L"a\"b", false}, {L"x", false, L"", false}, {L"", false, L"", false},
      {L"C:\\", false, L"C:\\", true}, {L"C:x", false, L"C:x", true}, {L"C:", false, L"C:", false},
      {L"\\x:y", false, L"\\x:y", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsQuoted(c.in), c.quoted) << text::ToUtf8(c.in);
    EXPECT_EQ(StripQuotes(c.in), c.stripped) << text::ToUtf8(c.in);
    EXPECT_EQ(HasDriveLetter(c.in), c.drive) << text::ToUtf8(c.in);
  }
  for (const auto& [in, name] : std::vector<std::pair<std::wstring, std::wstring>>{
           {L"$(a)", L"a"}, {L"$(name)", L"name"}, {L"$()", L""}, {L"$(abc", L"abc"}, {L"abcd", L""}, {L"$(A$(B)", L"A$(B"}})
    EXPECT_EQ(StripMacroRef(in), name) << text::ToUtf8(in);
}

TEST(Strings, ReplaceAllIgnoresCaseAndNeverRescans) {
  const struct { std::wstring in, find, with, want; } cases[] = {
      {L"x$(A)y$(a)", L"$(a)", L"1", L"x1y1"}, {L"aaa", L"a", L"aa", L"aaaaaa"}, {L"aaaa", L"aa", L"a", L"aa"},
      {L"Hello World", L"O", L"", L"Hell Wrld"}, {L"abc", L"x", L"y", L"abc"}, {L"", L"x", L"y", L""},
      {L"\u00c9t\u00e9", L"\u00e9", L"e", L"ete"}, {L"abc", L"", L"y", L"abc"}};
  for (const auto& c : cases) EXPECT_EQ(ReplaceAll(c.in, c.find, c.with), c.want) << text::ToUtf8(c.in);
}

// Signed 32-bit decimals with blanks around them, and nothing else.
TEST(Strings, ToInt32) {
  const std::wstring no = L"it is not a signed 32-bit decimal number", out = L"it is outside the signed 32-bit range";
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"0", L"0"}, {L"42", L"42"}, {L" \t-17 ", L"-17"}, {L"+007", L"7"}, {L"2147483647", L"2147483647"},
      {L"-2147483648", L"-2147483648"}, {L"000000000000000000001", L"1"}, {L"99999999999", out}, {L"2147483648", out},
      {L"-2147483649", out}, {L"123456789012345678901234567890", out}, {L"abc", no}, {L"", no}, {L"  ", no}, {L"-", no},
      {L"+", no}, {L"1.5", no}, {L"1e3", no}, {L"12a", no}, {L"- 1", no}, {L"1 2", no}, {L"0x10", no}, {L"--1", no},
      {L"\u0661", no}, {L"1\n", no}};
  for (const auto& [in, want] : cases) {
    try {
      EXPECT_EQ(std::to_wstring(ToInt32(in)), want) << text::ToUtf8(in);
    } catch (const VslError& e) {
      EXPECT_EQ(e.Description(), L"Cannot convert \"" + in + L"\" to a number: " + want);
    }
  }
}
