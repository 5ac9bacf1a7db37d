// The registry commands' buffer limits, value types and key-tree deletion (plain results: tests/scripts/registry).
#include "Doubles.h"
#include "utility/Utility.h"

using namespace Utility;
using platform::kHKeyLocalMachine;

using RegistryTest = ScratchPlatform;
static void Key(const std::wstring& path) { ASSERT_TRUE(RegWriteString(kHKeyLocalMachine, path, L"v", L"1")); }

TEST_F(RegistryTest, ReadsOnlyWhatFitsAndHasTheRightType) {
  const std::wstring fits(255, L'a'), wideFits(127, L'\u00e9');
  for (const auto& [name, data] : std::vector<std::pair<std::wstring, std::wstring>>{
           {L"fits", fits}, {L"long", fits + L'b'}, {L"wide", wideFits}, {L"wider", wideFits + L'\u00e9'}, {L"", L"dflt"}})
    ASSERT_TRUE(RegWriteString(kHKeyLocalMachine, L"R", name, data));
  ASSERT_TRUE(RegWriteString(kHKeyLocalMachine, L"", L"AtRoot", L"r"));
  ASSERT_TRUE(RegWriteValue(kHKeyLocalMachine, L"R", L"n", -2147483647 - 1));
  EXPECT_FALSE(RegWriteValue(kHKeyLocalMachine, L"R\\Missing", L"n", 1));  // the key is not created
  EXPECT_FALSE(RegWriteString(kHKeyLocalMachine, L"R\\\\Empty", L"n", L"1"));  // an empty name makes no key
  for (const auto& [name, type, bytes] : std::vector<std::tuple<std::wstring, std::uint32_t, std::string>>{
           {L"x", platform::kRegExpandSz, std::string("%PATH%\0", 7)}, {L"empty", platform::kRegSz, ""},
           {L"ff", platform::kRegDword, std::string(4, '\xFF')}, {L"big", platform::kRegDword, std::string(8, '\x01')},
           {L"short", platform::kRegSz, std::string("ab\0", 3)}})
    SetRaw(L"R", name, type, bytes);
  // "long" is 256 bytes with the terminator, "wider" two bytes a character.
  const struct { std::wstring key, name, string, value; } rows[] = {
      {L"r", L"FITS", fits, L""}, {L"R", L"long", L"", L""}, {L"R", L"wide", wideFits, L""}, {L"R", L"wider", L"", L""},
      {L"R", L"", L"dflt", L""}, {L"", L"atroot", L"r", L""}, {L"R", L"n", L"", L"-2147483648"}, {L"R", L"ff", L"", L"-1"},
      {L"R", L"x", L"", L""}, {L"R", L"empty", L"", L""}, {L"R", L"big", L"", L""}, {L"R", L"short", L"ab", L""},
      {L"R", L"none", L"", L""}, {L"\\R", L"n", L"", L""}, {L"R\\Missing", L"n", L"", L""}};
  for (const auto& r : rows) {
    EXPECT_EQ(RegReadString(kHKeyLocalMachine, r.key, r.name), r.string) << text::ToUtf8(r.key + L"," + r.name);
    EXPECT_EQ(RegReadValue(kHKeyLocalMachine, r.key, r.name), r.value) << text::ToUtf8(r.key + L"," + r.name);
  }
  EXPECT_FALSE(IsRegKeyExists(L"R\\Missing"));
  EXPECT_TRUE(IsRegKeyExists(L""));
}

// A subkey name of 255 characters does not fit the enumeration buffer: it ends the count and a tree deletion.
TEST_F(RegistryTest, CountAndDeleteSubkeys) {
  for (const wchar_t* p : {L"C\\a", L"C\\B", L"C\\c\\deeper", L"C\\C\\other", L"T\\A\\B\\C", L"T\\A\\B2",
                           L"T\\A2", L"T\\A\\B\\C2", L"Keep\\Me", L"Leaf", L"S\\a\\inner"})
    Key(p);
  EXPECT_EQ(RegCountSubNode(kHKeyLocalMachine, L"c"), L"3");
  EXPECT_EQ(RegCountSubNode(kHKeyLocalMachine, L"Leaf"), L"0");
  const std::wstring longName(255, L'z');
  Key(L"C\\b" + longName.substr(1));
  Key(L"S\\" + longName);
  EXPECT_EQ(RegCountSubNode(kHKeyLocalMachine, L"C"), L"2");  // a and B, then the long name

  EXPECT_EQ(RegDelKeyTree(kHKeyLocalMachine, L"t\\a"), L"True");
  EXPECT_FALSE(IsRegKeyExists(L"T\\A"));
  EXPECT_TRUE(IsRegKeyExists(L"T\\A2"));
  EXPECT_EQ(RegDelKeyTree(kHKeyLocalMachine, L"T"), L"True");
  EXPECT_EQ(RegDelKeyTree(kHKeyLocalMachine, L"Leaf"), L"True");
  EXPECT_FALSE(IsRegKeyExists(L"T"));
  EXPECT_FALSE(IsRegKeyExists(L"Leaf"));
  EXPECT_EQ(RegCountSubNode(kHKeyLocalMachine, L"Keep"), L"1");
  // "a" goes, the long name cannot be listed and the key stays; with no subkey deleted the answer is empty.
  EXPECT_EQ(RegDelKeyTree(kHKeyLocalMachine, L"S"), L"True");
  EXPECT_FALSE(IsRegKeyExists(L"S\\a"));
  EXPECT_TRUE(IsRegKeyExists(L"S\\" + longName));
  EXPECT_EQ(RegDelKeyTree(kHKeyLocalMachine, L"S"), L"");
  EXPECT_TRUE(IsRegKeyExists(L"S"));
}

TEST_F(RegistryTest, OperationsLeaveNoHandleOpen) {
  Key(L"H\\a");
  RegReadString(kHKeyLocalMachine, L"H\\a", L"v"); RegReadValue(kHKeyLocalMachine, L"H\\a", L"v");
  RegWriteValue(kHKeyLocalMachine, L"H\\a", L"n", 1); RegDelString(kHKeyLocalMachine, L"H\\a", L"n");
  RegCountSubNode(kHKeyLocalMachine, L"H"); IsRegKeyExists(L"H"); RegDelKeyTree(kHKeyLocalMachine, L"H");
  // Handles are handed out in increasing order: none below the next may be open.
  platform::RegKey probe = 0;
  ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, L"", platform::kKeyRead, &probe), platform::kErrorSuccess);
  for (platform::RegKey h = 1; h < probe; ++h) EXPECT_EQ(reg.CloseKey(h), platform::kErrorInvalidHandle) << h;
}
