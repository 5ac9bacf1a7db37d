// The registry calls as every backend answers them, below a key of the machine's own.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

using namespace platform;
using V = std::vector<std::wstring>;
using Codes = std::vector<long>;

class RegistryTest : public ::testing::Test {
 protected:
  TestMachine m;
  Registry& reg = m.Reg();
  HeldKeys key{reg};
  RegKey base = key(kHKeyLocalMachine, m.RegistryBase(), true);
  std::string Get(RegKey k, const std::wstring& name) { return GetValue(reg, k, name); }
  long Sz(RegKey k, const std::wstring& name, const std::string& s) { return SetSz(reg, k, name, s); }
};

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  const RegKey a = key(base, L"Vendor\\App", true), c = key(kHKeyLocalMachine, m.RegistryBase() + L"\\vendor\\APP");
  ASSERT_TRUE(key(base, L"VENDOR\\app\\Sub", true) != 0 && c != 0);
  EXPECT_EQ((std::vector<V>{Subkeys(reg, base), Subkeys(reg, c)}), (std::vector<V>{{L"Vendor"}, {L"Sub"}}));
  const RegKey d = key(a, L"");  // "" opens the key again as a handle of its own
  EXPECT_NE(d, a);
  ASSERT_EQ(Sz(d, L"v", "x"), kErrorSuccess);
  EXPECT_EQ(Get(c, L"V"), std::string("x\0", 2));
  KeyHandle readOnly(reg);  // writing needs a key opened for it
  ASSERT_EQ(reg.OpenKey(base, L"vendor", kKeyRead, readOnly.Out()), kErrorSuccess);
  RegKey none = 0;
  EXPECT_EQ((Codes{Sz(readOnly.Get(), L"v", "y"), reg.OpenKey(base, L"Nope", kKeyRead, &none)}),
            (Codes{kErrorAccessDenied, kErrorFileNotFound}));
  EXPECT_EQ(none, 0u);
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveOrder) {
  for (const wchar_t* n : {L"b", L"C", L"a", L"B2"}) ASSERT_NE(key(base, n, true), 0u);
  EXPECT_EQ(Subkeys(reg, base), (V{L"a", L"b", L"B2", L"C"}));  // where '_' goes: PosixRegistryTest
  std::wstring name;  // "B2" needs 3 with its terminator
  EXPECT_EQ((Codes{reg.EnumKey(base, 4, 256, &name), reg.EnumKey(key(base, L"a"), 0, 256, &name),
                   reg.EnumKey(base, 2, 2, &name), reg.EnumKey(base, 2, 3, &name)}),
            (Codes{kErrorNoMoreItems, kErrorNoMoreItems, kErrorMoreData, kErrorSuccess}));
  EXPECT_EQ(name, L"B2");
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytes) {
  ASSERT_EQ(Sz(base, L"s", "hello"), kErrorSuccess);
  std::uint32_t type = 99, size = 0, small = 5;
  std::uint8_t buf[8];
  EXPECT_EQ((Codes{reg.QueryValue(base, L"none", nullptr, nullptr, &size), reg.QueryValue(base, L"s", &type, nullptr, &size),
                   reg.QueryValue(base, L"s", nullptr, buf, &small)}),
            (Codes{kErrorFileNotFound, kErrorSuccess, kErrorMoreData}));
  EXPECT_EQ((std::tuple{type, size, small}), (std::tuple{kRegSz, 6u, 6u}));
  const std::uint8_t raw[3] = {1, 0, 2};
  ASSERT_EQ(reg.SetValue(base, L"b", kRegBinary, raw, 3), kErrorSuccess);
  EXPECT_EQ(Get(base, L"B"), std::string("\1\0\2", 3));
  // Strings are read into buffers of a given size. (Default values, enumerating values and
  // DWORDs: tests/scripts/tool/reg_export_import.vsl, tests/scripts/registry/*.vsl.)
  ASSERT_EQ(reg.SetString(base, L"Path", L"C:\\Program Files\\x"), kErrorSuccess);  // 18 characters
  std::wstring text;
  EXPECT_EQ((Codes{reg.QueryString(base, L"PATH", 18, &text), reg.QueryString(base, L"none", 255, &text),
                   reg.QueryString(base, L"b", 255, &text), reg.QueryString(base, L"path", 19, &text)}),
            (Codes{kErrorMoreData, kErrorFileNotFound, kErrorUnsupportedType, kErrorSuccess}));
  EXPECT_EQ(text, L"C:\\Program Files\\x");
}

TEST_F(RegistryTest, DeleteKeyRefusesKeysWithSubkeysAndTakesValuesAlong) {
  ASSERT_EQ(Sz(key(base, L"T\\U", true), L"v", "1"), kErrorSuccess);
  key.held.pop_back();
  EXPECT_EQ((Codes{reg.DeleteKey(base, L"T"), reg.DeleteKey(base, L"t\\u"), reg.DeleteKey(base, L"T\\U")}),
            (Codes{kErrorAccessDenied, kErrorSuccess, kErrorFileNotFound}));
  const RegKey k = key(base, L"T\\U", true);
  EXPECT_EQ(Get(k, L"v"), "<missing>");
  reg.Transact([&] { EXPECT_EQ(Sz(k, L"in", "1"), kErrorSuccess); });  // work in a transaction stays
  EXPECT_EQ(Get(k, L"in"), std::string("1\0", 2));
  EXPECT_EQ(Raised([&] { reg.Transact([] { throw VslError(L"stop"); }); }), L"stop");
}
