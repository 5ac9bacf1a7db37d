#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Text.h"
#include "platform/posix/Registry.h"
#include "utility/Utility.h"

using namespace platform;
using namespace Utility;

namespace {

constexpr RegKey kHklm = kHKeyLocalMachine;

class RegistryOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vslregopsXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::string path = dir_ + "/registry.db";
    reg_ = std::make_unique<posix::PosixRegistry>([path] { return path; });
    Platform p;
    p.registry = reg_.get();
    scoped_ = std::make_unique<ScopedPlatform>(p);
  }
  void TearDown() override {
    scoped_.reset();
    reg_.reset();
    std::filesystem::remove_all(dir_);
  }

  // Stores raw data, for the types the operations never write themselves.
  void SetRaw(const std::wstring& path, const std::wstring& name, std::uint32_t type, const std::string& bytes) {
    KeyHandle k(*reg_);
    ASSERT_EQ(reg_->CreateKey(kHklm, path, k.Out()), kErrorSuccess);
    ASSERT_EQ(reg_->SetValue(k.Get(), name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                             static_cast<std::uint32_t>(bytes.size())),
              kErrorSuccess);
  }

  std::string dir_;
  std::unique_ptr<posix::PosixRegistry> reg_;
  std::unique_ptr<ScopedPlatform> scoped_;
};

TEST_F(RegistryOpsTest, StringsRoundTripAndWritingCreatesThePath) {
  EXPECT_FALSE(IsRegKeyExists(L"Software\\Acme\\Tool"));
  EXPECT_TRUE(RegWriteString(kHklm, L"Software\\Acme\\Tool", L"Dir", L"C:\\Program Files\\Acme"));
  EXPECT_TRUE(IsRegKeyExists(L"Software\\Acme\\Tool"));
  EXPECT_EQ(RegReadString(kHklm, L"software\\ACME\\tool", L"DIR"), L"C:\\Program Files\\Acme");
  EXPECT_TRUE(RegWriteString(kHklm, L"Software\\Acme\\Tool", L"Dir", L"Gr\u00fc\u00dfe \u20ac"));
  EXPECT_EQ(RegReadString(kHklm, L"Software\\Acme\\Tool", L"Dir"), L"Gr\u00fc\u00dfe \u20ac");
  // The stored form is UTF-8 with one terminating NUL.
  std::uint8_t buf[64];
  std::uint32_t size = sizeof buf, type = 0;
  KeyHandle k(*reg_);
  ASSERT_EQ(reg_->OpenKey(kHklm, L"Software\\Acme\\Tool", kKeyRead, k.Out()), kErrorSuccess);
  ASSERT_EQ(reg_->QueryValue(k.Get(), L"Dir", &type, buf, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), text::ToUtf8(L"Gr\u00fc\u00dfe \u20ac") + '\0');

  // Empty text, the default value, and the root itself through an empty path.
  EXPECT_TRUE(RegWriteString(kHklm, L"Software\\Acme", L"", L""));
  EXPECT_EQ(RegReadString(kHklm, L"Software\\Acme", L""), L"");
  EXPECT_TRUE(RegWriteString(kHklm, L"Software\\Acme", L"", L"dflt"));
  EXPECT_EQ(RegReadString(kHklm, L"Software\\Acme", L""), L"dflt");
  EXPECT_TRUE(RegWriteString(kHklm, L"", L"AtRoot", L"r"));
  EXPECT_EQ(RegReadString(kHklm, L"", L"atroot"), L"r");
}

TEST_F(RegistryOpsTest, ReadStringGivesEmptyTextForEverythingElse) {
  ASSERT_TRUE(RegWriteString(kHklm, L"R", L"s", L"text"));
  ASSERT_TRUE(RegWriteValue(kHklm, L"R", L"n", 7));
  SetRaw(L"R", L"x", kRegExpandSz, std::string("%PATH%\0", 7));
  SetRaw(L"R", L"empty", kRegSz, "");
  EXPECT_EQ(RegReadString(kHklm, L"R", L"n"), L"");
  EXPECT_EQ(RegReadString(kHklm, L"R", L"x"), L"");
  EXPECT_EQ(RegReadString(kHklm, L"R", L"empty"), L"");
  EXPECT_EQ(RegReadString(kHklm, L"R", L"missing"), L"");
  EXPECT_EQ(RegReadString(kHklm, L"R\\Missing", L"s"), L"");
  EXPECT_EQ(RegReadString(kHklm, L"\\R", L"s"), L"");
}

TEST_F(RegistryOpsTest, ReadStringFitsTwoHundredFiftyFiveBytes) {
  std::wstring fits(255, L'a');
  std::wstring tooLong(256, L'b');
  ASSERT_TRUE(RegWriteString(kHklm, L"Long", L"fits", fits));
  ASSERT_TRUE(RegWriteString(kHklm, L"Long", L"long", tooLong));
  EXPECT_EQ(RegReadString(kHklm, L"Long", L"fits"), fits);
  EXPECT_EQ(RegReadString(kHklm, L"Long", L"long"), L"");
  // The limit is in bytes of the stored text: 128 two-byte characters are 256.
  ASSERT_TRUE(RegWriteString(kHklm, L"Long", L"wide", std::wstring(128, L'\u00e9')));
  EXPECT_EQ(RegReadString(kHklm, L"Long", L"wide"), L"");
  ASSERT_TRUE(RegWriteString(kHklm, L"Long", L"wide", std::wstring(127, L'\u00e9')));
  EXPECT_EQ(RegReadString(kHklm, L"Long", L"wide"), std::wstring(127, L'\u00e9'));
}

TEST_F(RegistryOpsTest, NumbersAreFourByteDwords) {
  EXPECT_FALSE(RegWriteValue(kHklm, L"Num\\Missing", L"n", 1));  // the key is not created
  EXPECT_FALSE(IsRegKeyExists(L"Num"));
  ASSERT_TRUE(RegWriteString(kHklm, L"Num", L"s", L"12345678"));
  EXPECT_TRUE(RegWriteValue(kHklm, L"Num", L"n", 42));
  EXPECT_EQ(RegReadValue(kHklm, L"Num", L"N"), L"42");
  EXPECT_TRUE(RegWriteValue(kHklm, L"Num", L"n", -2147483647 - 1));
  EXPECT_EQ(RegReadValue(kHklm, L"Num", L"n"), L"-2147483648");
  SetRaw(L"Num", L"ff", kRegDword, std::string(4, '\xFF'));
  EXPECT_EQ(RegReadValue(kHklm, L"Num", L"ff"), L"-1");
  EXPECT_EQ(RegReadValue(kHklm, L"Num", L"s"), L"");  // a string, and longer than 4 bytes
  ASSERT_TRUE(RegWriteString(kHklm, L"Num", L"short", L"ab"));
  EXPECT_EQ(RegReadValue(kHklm, L"Num", L"short"), L"");  // a string that fits is no number either
  SetRaw(L"Num", L"big", kRegDword, std::string(8, '\x01'));
  EXPECT_EQ(RegReadValue(kHklm, L"Num", L"big"), L"");
  EXPECT_EQ(RegReadValue(kHklm, L"Num", L"missing"), L"");
  EXPECT_EQ(RegReadValue(kHklm, L"Nowhere", L"n"), L"");
  EXPECT_EQ(RegReadString(kHklm, L"Num", L"n"), L"");
}

TEST_F(RegistryOpsTest, DelStringAnswersInCapitals) {
  ASSERT_TRUE(RegWriteString(kHklm, L"Del", L"v", L"1"));
  EXPECT_EQ(RegDelString(kHklm, L"Del", L"V"), L"TRUE");
  EXPECT_EQ(RegReadString(kHklm, L"Del", L"v"), L"");
  EXPECT_EQ(RegDelString(kHklm, L"Del", L"v"), L"FALSE");
  EXPECT_EQ(RegDelString(kHklm, L"NoKey", L"v"), L"");
  EXPECT_TRUE(IsRegKeyExists(L"Del"));  // only the value went
}

TEST_F(RegistryOpsTest, CountSubNode) {
  EXPECT_EQ(RegCountSubNode(kHklm, L""), L"0");
  EXPECT_EQ(RegCountSubNode(kHklm, L"Missing"), L"255");
  ASSERT_TRUE(RegWriteString(kHklm, L"Count", L"v", L"1"));
  EXPECT_EQ(RegCountSubNode(kHklm, L"Count"), L"0");
  for (const wchar_t* sub : {L"Count\\a", L"Count\\B", L"Count\\c\\deeper", L"Count\\C\\other"})
    ASSERT_TRUE(RegWriteString(kHklm, sub, L"", L"x"));
  EXPECT_EQ(RegCountSubNode(kHklm, L"count"), L"3");
  // A 255-character name does not fit the 255-character buffer and ends the count.
  KeyHandle k(*reg_);
  ASSERT_EQ(reg_->CreateKey(kHklm, L"Count\\b" + std::wstring(254, L'x'), k.Out()), kErrorSuccess);
  EXPECT_EQ(RegCountSubNode(kHklm, L"Count"), L"2");  // a and B, then the long name fails
}

TEST_F(RegistryOpsTest, DelKeyTreeRemovesEveryLevel) {
  EXPECT_EQ(RegDelKeyTree(kHklm, L""), L"");
  EXPECT_EQ(RegDelKeyTree(kHklm, L"Missing"), L"False");
  for (const wchar_t* p : {L"Tree\\A\\B\\C", L"Tree\\A\\B2", L"Tree\\A2", L"Tree\\A\\B\\C2", L"Keep\\Me"})
    ASSERT_TRUE(RegWriteString(kHklm, p, L"v", p));
  EXPECT_EQ(RegDelKeyTree(kHklm, L"tree\\a"), L"True");
  EXPECT_FALSE(IsRegKeyExists(L"Tree\\A"));
  EXPECT_TRUE(IsRegKeyExists(L"Tree\\A2"));
  EXPECT_EQ(RegDelKeyTree(kHklm, L"Tree"), L"True");
  EXPECT_FALSE(IsRegKeyExists(L"Tree"));
  EXPECT_EQ(RegReadString(kHklm, L"Keep\\Me", L"v"), L"Keep\\Me");
  EXPECT_EQ(RegCountSubNode(kHklm, L"Keep"), L"1");

  // A key without subkeys goes at once.
  ASSERT_TRUE(RegWriteString(kHklm, L"Leaf", L"v", L"1"));
  EXPECT_EQ(RegDelKeyTree(kHklm, L"Leaf"), L"True");
  EXPECT_FALSE(IsRegKeyExists(L"Leaf"));
}

TEST_F(RegistryOpsTest, DelKeyTreeStopsAtASubkeyItCannotEnumerate) {
  KeyHandle k(*reg_);
  const std::wstring longName(255, L'z');
  ASSERT_EQ(reg_->CreateKey(kHklm, L"Stop\\" + longName, k.Out()), kErrorSuccess);
  ASSERT_TRUE(RegWriteString(kHklm, L"Stop\\a\\inner", L"v", L"1"));
  // "a" and everything below it go; the long name cannot be enumerated, so
  // the loop ends with the last subkey's answer and the key stays.
  EXPECT_EQ(RegDelKeyTree(kHklm, L"Stop"), L"True");
  EXPECT_TRUE(IsRegKeyExists(L"Stop"));
  EXPECT_FALSE(IsRegKeyExists(L"Stop\\a"));
  EXPECT_TRUE(IsRegKeyExists(L"Stop\\" + longName));
  // With no subkey deleted first, the answer stays empty.
  EXPECT_EQ(RegDelKeyTree(kHklm, L"Stop"), L"");
  EXPECT_TRUE(IsRegKeyExists(L"Stop"));
}

TEST_F(RegistryOpsTest, IsRegKeyExistsTakesARootNameAsASubkey) {
  ASSERT_TRUE(RegWriteString(kHklm, L"Software", L"v", L"1"));
  EXPECT_TRUE(IsRegKeyExists(L"Software"));
  EXPECT_TRUE(IsRegKeyExists(L""));
  EXPECT_FALSE(IsRegKeyExists(L"HKEY_LOCAL_MACHINE\\Software"));
  ASSERT_TRUE(RegWriteString(kHklm, L"HKEY_LOCAL_MACHINE\\Software", L"v", L"1"));
  EXPECT_TRUE(IsRegKeyExists(L"HKEY_LOCAL_MACHINE\\Software"));
  EXPECT_EQ(RegCountSubNode(kHklm, L"HKEY_LOCAL_MACHINE"), L"1");
}

TEST_F(RegistryOpsTest, OperationsLeaveNoHandleOpen) {
  ASSERT_TRUE(RegWriteString(kHklm, L"H\\a", L"v", L"1"));
  RegReadString(kHklm, L"H\\a", L"v");
  RegReadValue(kHklm, L"H\\a", L"v");
  RegWriteValue(kHklm, L"H\\a", L"n", 1);
  RegDelString(kHklm, L"H\\a", L"n");
  RegCountSubNode(kHklm, L"H");
  IsRegKeyExists(L"H");
  RegDelKeyTree(kHklm, L"H");
  // Handles are handed out in increasing order: the next one shows how many
  // were taken, and none of them may still be open.
  RegKey probe = 0;
  ASSERT_EQ(reg_->OpenKey(kHklm, L"", kKeyRead, &probe), kErrorSuccess);
  for (RegKey h = 1; h < probe; ++h) EXPECT_EQ(reg_->CloseKey(h), kErrorInvalidHandle) << h;
  EXPECT_EQ(reg_->CloseKey(probe), kErrorSuccess);
}

TEST_F(RegistryOpsTest, ABrokenDatabaseIsReportedNotSwallowed) {
  std::string bad = dir_ + "/bad.db";
  std::ofstream(bad) << "garbage garbage garbage garbage garbage garbage garbage garbage garbage\n";
  posix::PosixRegistry broken([bad] { return bad; });
  Platform p;
  p.registry = &broken;
  ScopedPlatform scoped(p);
  try {
    RegReadString(kHklm, L"Software", L"v");
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_EQ(text::ToUtf8(e.Description()), "Cannot open the registry database " + bad + ": file is not a database");
  }
  EXPECT_THROW(RegWriteString(kHklm, L"Software", L"v", L"x"), VslError);
  EXPECT_THROW(RegCountSubNode(kHklm, L"Software"), VslError);
  EXPECT_THROW(IsRegKeyExists(L"Software"), VslError);
}

}  // namespace
