// The root key's handle, names outside the ANSI code page; checks of conformance tests left out.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"
#include "platform/win32/Registry.h"

namespace {

using namespace platform;

TEST(Win32Registry, KeysAreOpenedWithoutCaseAndEnumerateInNameOrder) {
  TestMachine m;
  Registry& reg = m.Reg();
  const std::wstring base = m.RegistryBase();
  KeyHandle key(reg), again(reg);
  for (const wchar_t* name : {L"\\gamma", L"\\Alpha", L"\\ALPHA", L"\\beta\\x"})
    ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, base + name, key.Out()), kErrorSuccess);
  ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, base + L"\\BETA\\X", kKeyRead | kKeyWrite, again.Out()), kErrorSuccess);
  ASSERT_EQ(reg.SetString(again.Get(), L"Path", L"x"), kErrorSuccess);
  EXPECT_EQ(reg.DeleteValue(key.Get(), L"PATH"), kErrorSuccess);
  ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, base, kKeyRead, key.Out()), kErrorSuccess);
  EXPECT_EQ(Subkeys(reg, key.Get()), (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));
  std::wstring name;
  EXPECT_EQ(reg.EnumKey(key.Get(), 3, 255, &name), kErrorNoMoreItems);
  EXPECT_EQ(reg.EnumKey(key.Get(), 0, 5, &name), kErrorMoreData);  // the capacity counts the terminator
  EXPECT_EQ(reg.EnumKey(key.Get(), 0, 6, &name), kErrorSuccess);
  // Writing needs a key opened for it; "" opens the key again as a handle of its own.
  EXPECT_EQ(reg.SetString(key.Get(), L"v", L"x"), kErrorAccessDenied);
  ASSERT_EQ(reg.OpenKey(key.Get(), L"", kKeyRead, again.Out()), kErrorSuccess);
  EXPECT_NE(again.Get(), key.Get());
  RegKey none = 0;
  EXPECT_EQ(reg.OpenKey(key.Get(), L"Nope", kKeyRead, &none), kErrorFileNotFound);
  EXPECT_EQ(none, 0u);
}

TEST(Win32Registry, TheRootNeedsNoClosingAndNamesMustFitTheCodePage) {
  TestMachine m;
  Registry& reg = m.Reg();
  // HKEY_LOCAL_MACHINE is sign-extended in a 64-bit build; the constant stands for it either way.
  KeyHandle key(reg);
  EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, L"", kKeyRead, key.Out()), kErrorSuccess);
  EXPECT_EQ(reg.CloseKey(kHKeyLocalMachine), kErrorSuccess);
  std::wstring name;
  EXPECT_EQ(reg.EnumKey(kHKeyLocalMachine, 0, 255, &name), kErrorSuccess);
  EXPECT_FALSE(name.empty());
  // As '?' a name would be another key's or a new one; a NUL would cut it.
  const std::wstring base = m.RegistryBase(), foreign = L"\\\x4E2D", nul(1, L'\0');
  ASSERT_EQ(reg.CreateKey(kHKeyLocalMachine, base + L"\\x", key.Out()), kErrorSuccess);
  EXPECT_EQ(reg.CreateKey(kHKeyLocalMachine, base + foreign, key.Out()), win32::kErrorInvalidParameter);
  EXPECT_EQ(reg.OpenKey(kHKeyLocalMachine, base + foreign, kKeyRead, key.Out()), win32::kErrorInvalidParameter);
  EXPECT_FALSE(key);
  EXPECT_EQ(reg.DeleteKey(kHKeyLocalMachine, base + L"\\x" + nul + L"y"), win32::kErrorInvalidParameter);
  ASSERT_EQ(reg.OpenKey(kHKeyLocalMachine, base + L"\\x", kKeyWrite, key.Out()), kErrorSuccess);
  EXPECT_EQ(reg.SetString(key.Get(), L"a" + nul + L"b", L"v"), win32::kErrorInvalidParameter);
}

}  // namespace
