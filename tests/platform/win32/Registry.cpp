// The root key's handle, names outside the ANSI code page.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"
#include "platform/win32/Registry.h"

namespace {

using namespace platform;

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
