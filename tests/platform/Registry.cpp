// The registry calls as every backend answers them, below a key of the
// machine's own.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/TestMachine.h"

namespace {

using namespace platform;
using V = std::vector<std::wstring>;

class RegistryTest : public ::testing::Test {
 protected:
  TestMachine m;
  Registry& reg = m.Reg();
  KeyHandle base{reg};
  void SetUp() override { ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, m.RegistryBase(), base.Out()), kErrorSuccess); }

  std::string Get(RegKey k, const std::wstring& name) { return GetValue(reg, k, name); }
  long Sz(RegKey k, const std::wstring& name, const std::string& s) { return SetSz(reg, k, name, s); }
  V Keys(RegKey k) { return Subkeys(reg, k); }
};

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  KeyHandle a(reg), b(reg), c(reg);
  ASSERT_EQ(reg.CreateKey(base.Get(), L"Vendor\\App", a.Out()), kErrorSuccess);
  ASSERT_EQ(reg.CreateKey(base.Get(), L"VENDOR\\app\\Sub", b.Out()), kErrorSuccess);
  ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, m.RegistryBase() + L"\\vendor\\APP", kKeyRead, c.Out()), kErrorSuccess);
  EXPECT_EQ(Keys(base.Get()), V{L"Vendor"});
  EXPECT_EQ(Keys(c.Get()), V{L"Sub"});
  EXPECT_EQ(Sz(a.Get(), L"Path", "one"), kErrorSuccess);
  EXPECT_EQ(Sz(c.Get(), L"PATH", "two"), kErrorSuccess);
  EXPECT_EQ(Get(a.Get(), L"path"), std::string("two\0", 4));
  EXPECT_EQ(reg.DeleteValue(a.Get(), L"pAtH"), kErrorSuccess);
  EXPECT_EQ(reg.DeleteValue(a.Get(), L"Path"), kErrorFileNotFound);
  // "" opens the key again as a handle of its own.
  KeyHandle d(reg);
  ASSERT_EQ(reg.OpenKey(a.Get(), L"", kKeyRead | kKeyWrite, d.Out()), kErrorSuccess);
  EXPECT_NE(d.Get(), a.Get());
  ASSERT_EQ(Sz(d.Get(), L"v", "x"), kErrorSuccess);
  EXPECT_EQ(Get(c.Get(), L"V"), std::string("x\0", 2));
  RegKey none = 0;
  EXPECT_EQ(reg.OpenKey(base.Get(), L"Nope", kKeyRead, &none), kErrorFileNotFound);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(reg.DeleteKey(base.Get(), L"Nope"), kErrorFileNotFound);
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveOrder) {
  for (const wchar_t* n : {L"b", L"_x", L"C", L"a", L"B2"}) {
    KeyHandle sub(reg);
    ASSERT_EQ(reg.CreateKey(base.Get(), n, sub.Out()), kErrorSuccess);
  }
  EXPECT_EQ(Keys(base.Get()), (V{L"a", L"b", L"B2", L"C", L"_x"}));  // '_' after the letters
  std::wstring name;
  EXPECT_EQ(reg.EnumKey(base.Get(), 5, 256, &name), kErrorNoMoreItems);
  EXPECT_EQ(reg.EnumKey(base.Get(), 2, 2, &name), kErrorMoreData);  // "B2" needs 3 with its terminator
  EXPECT_EQ(reg.EnumKey(base.Get(), 2, 3, &name), kErrorSuccess);
  EXPECT_EQ(name, L"B2");
  KeyHandle empty(reg);
  ASSERT_EQ(reg.OpenKey(base.Get(), L"a", kKeyRead, empty.Out()), kErrorSuccess);
  EXPECT_EQ(reg.EnumKey(empty.Get(), 0, 256, &name), kErrorNoMoreItems);
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytes) {
  const RegKey k = base.Get();
  ASSERT_EQ(Sz(k, L"s", "hello"), kErrorSuccess);
  std::uint32_t type = 99, size = 0;
  EXPECT_EQ(reg.QueryValue(k, L"s", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 6u);
  std::uint8_t buf[8];
  size = 5;
  type = 99;
  EXPECT_EQ(reg.QueryValue(k, L"s", &type, buf, &size), kErrorMoreData);
  EXPECT_EQ(size, 6u);
  size = 6;
  EXPECT_EQ(reg.QueryValue(k, L"s", &type, buf, &size), kErrorSuccess);
  EXPECT_EQ(std::memcmp(buf, "hello", 6), 0);
  EXPECT_EQ(reg.QueryValue(k, L"none", nullptr, nullptr, &size), kErrorFileNotFound);
  const std::uint8_t raw[3] = {1, 0, 2};
  ASSERT_EQ(reg.SetValue(k, L"b", kRegBinary, raw, 3), kErrorSuccess);
  EXPECT_EQ(Get(k, L"B"), std::string("\1\0\2", 3));
  ASSERT_EQ(reg.SetValue(k, L"b", kRegDword, nullptr, 0), kErrorSuccess);
  size = sizeof buf;
  EXPECT_EQ(reg.QueryValue(k, L"b", &type, buf, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(size, 0u);
  // The default value is named by "".
  EXPECT_EQ(Get(k, L""), "<missing>");
  ASSERT_EQ(Sz(k, L"", "default"), kErrorSuccess);
  EXPECT_EQ(Get(k, L""), std::string("default\0", 8));
  EXPECT_EQ(reg.DeleteValue(k, L""), kErrorSuccess);
  EXPECT_EQ(Get(k, L""), "<missing>");
  EXPECT_EQ(Get(k, L"s"), std::string("hello\0", 6));
  // Every value once, by EnumValue, in the platform's order.
  V names;
  std::wstring name;
  std::vector<std::uint8_t> data;
  for (std::uint32_t i = 0; reg.EnumValue(k, i, &name, &type, &data) == kErrorSuccess; ++i) {
    names.push_back(name);
    if (name == L"s") {
      EXPECT_EQ(std::string(data.begin(), data.end()), std::string("hello\0", 6));
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (V{L"b", L"s"}));
  EXPECT_EQ(reg.EnumValue(k, 2, &name, &type, &data), kErrorNoMoreItems);
}

TEST_F(RegistryTest, StringsAreReadIntoBuffersOfAGivenSize) {
  const RegKey k = base.Get();
  ASSERT_EQ(reg.SetString(k, L"Path", L"C:\\Program Files\\x"), kErrorSuccess);  // 18 characters
  std::wstring text;
  EXPECT_EQ(reg.QueryString(k, L"PATH", 18, &text), kErrorMoreData);
  EXPECT_EQ(reg.QueryString(k, L"path", 19, &text), kErrorSuccess);
  EXPECT_EQ(text, L"C:\\Program Files\\x");
  EXPECT_EQ(reg.QueryString(k, L"none", 255, &text), kErrorFileNotFound);
  const std::uint32_t dword = 7;
  ASSERT_EQ(reg.SetValue(k, L"n", kRegDword, reinterpret_cast<const std::uint8_t*>(&dword), 4), kErrorSuccess);
  EXPECT_EQ(reg.QueryString(k, L"n", 255, &text), kErrorUnsupportedType);
  EXPECT_EQ(reg.EncodeText(L"plain"), "plain");
  EXPECT_EQ(reg.DecodeText("plain"), L"plain");
}

TEST_F(RegistryTest, DeleteKeyRefusesKeysWithSubkeysAndTakesValuesAlong) {
  {
    KeyHandle k(reg);
    ASSERT_EQ(reg.CreateKey(base.Get(), L"T\\U", k.Out()), kErrorSuccess);
    ASSERT_EQ(Sz(k.Get(), L"v", "1"), kErrorSuccess);
  }
  EXPECT_EQ(reg.DeleteKey(base.Get(), L"T"), kErrorAccessDenied);
  EXPECT_EQ(reg.DeleteKey(base.Get(), L"t\\u"), kErrorSuccess);
  EXPECT_EQ(reg.DeleteKey(base.Get(), L"T\\U"), kErrorFileNotFound);
  KeyHandle k(reg);
  ASSERT_EQ(reg.CreateKey(base.Get(), L"T\\U", k.Out()), kErrorSuccess);
  EXPECT_EQ(Get(k.Get(), L"v"), "<missing>");
  // Work done in a transaction stays; an exception from it passes on.
  reg.Transact([&] { EXPECT_EQ(Sz(k.Get(), L"in", "1"), kErrorSuccess); });
  EXPECT_EQ(Get(k.Get(), L"in"), std::string("1\0", 2));
  EXPECT_EQ(Raised([&] { reg.Transact([] { throw VslError(L"stop"); }); }), L"stop");
}

}  // namespace
