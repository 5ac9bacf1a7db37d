// The Windows registry backend against advapi32: return codes, buffer
// sizes, subkey order and the names the ANSI code page cannot hold.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/Registry.h"

namespace {

using platform::KeyHandle;
using platform::kHKeyLocalMachine;

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    base_ = L"Software\\VslWin32Test\\" + std::to_wstring(::GetCurrentProcessId()) + L"_";
    for (const char* c = info->name(); *c; ++c) base_.push_back(static_cast<wchar_t>(*c));
  }
  void TearDown() override {
    std::string key = win32::ToAnsiLossy(base_);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  }
  std::wstring base_;
  win32::Win32Registry reg_;
};

TEST_F(Win32RegistryTest, KeysAreCreatedWithTheirPathAndValuesReadBack) {
  KeyHandle key(reg_);
  ASSERT_EQ(reg_.OpenKey(kHKeyLocalMachine, base_ + L"\\a\\b", platform::kKeyRead, key.Out()), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg_.CreateKey(kHKeyLocalMachine, base_ + L"\\a\\b", key.Out()), ERROR_SUCCESS);
  ASSERT_EQ(reg_.SetString(key.Get(), L"Path", L"C:\\Program Files\\x"), ERROR_SUCCESS);
  const std::uint32_t dword = 0xFFFFFFFFu;
  ASSERT_EQ(reg_.SetValue(key.Get(), L"n", platform::kRegDword, reinterpret_cast<const std::uint8_t*>(&dword), 4),
            ERROR_SUCCESS);

  KeyHandle again(reg_);
  ASSERT_EQ(reg_.OpenKey(kHKeyLocalMachine, base_ + L"\\A\\B", platform::kKeyRead, again.Out()), ERROR_SUCCESS);
  std::wstring text;
  EXPECT_EQ(reg_.QueryString(again.Get(), L"PATH", 255, &text), ERROR_SUCCESS);
  EXPECT_EQ(text, L"C:\\Program Files\\x");
  // The text and its NUL must fit the buffer.
  EXPECT_EQ(reg_.QueryString(again.Get(), L"Path", 18, &text), ERROR_MORE_DATA);
  EXPECT_EQ(reg_.QueryString(again.Get(), L"Path", 19, &text), ERROR_SUCCESS);
  EXPECT_EQ(reg_.QueryString(again.Get(), L"n", 255, &text), platform::kErrorUnsupportedType);
  EXPECT_EQ(reg_.QueryString(again.Get(), L"none", 255, &text), ERROR_FILE_NOT_FOUND);
  // Type and size alone, without a buffer.
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(reg_.QueryValue(again.Get(), L"Path", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(size, 19u);
  std::uint32_t read = 0;
  size = 4;
  EXPECT_EQ(reg_.QueryValue(again.Get(), L"n", &type, reinterpret_cast<std::uint8_t*>(&read), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(read, dword);
}

TEST_F(Win32RegistryTest, SubkeysEnumerateInNameOrderWithinTheBuffer) {
  KeyHandle key(reg_);
  ASSERT_EQ(reg_.CreateKey(kHKeyLocalMachine, base_, key.Out()), ERROR_SUCCESS);
  for (const wchar_t* name : {L"gamma", L"Alpha", L"beta"}) {
    KeyHandle sub(reg_);
    ASSERT_EQ(reg_.CreateKey(key.Get(), name, sub.Out()), ERROR_SUCCESS);
  }
  std::wstring name;
  EXPECT_EQ(reg_.EnumKey(key.Get(), 0, 255, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, L"Alpha");
  EXPECT_EQ(reg_.EnumKey(key.Get(), 1, 255, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, L"beta");
  EXPECT_EQ(reg_.EnumKey(key.Get(), 2, 255, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, L"gamma");
  EXPECT_EQ(reg_.EnumKey(key.Get(), 3, 255, &name), platform::kErrorNoMoreItems);
  // The capacity counts the terminator.
  EXPECT_EQ(reg_.EnumKey(key.Get(), 0, 5, &name), ERROR_MORE_DATA);
  EXPECT_EQ(reg_.EnumKey(key.Get(), 0, 6, &name), ERROR_SUCCESS);
}

TEST_F(Win32RegistryTest, AKeyWithSubkeysIsNotDeleted) {
  KeyHandle key(reg_);
  ASSERT_EQ(reg_.CreateKey(kHKeyLocalMachine, base_ + L"\\parent\\child", key.Out()), ERROR_SUCCESS);
  key.Reset();
  EXPECT_EQ(reg_.DeleteKey(kHKeyLocalMachine, base_ + L"\\parent"), platform::kErrorAccessDenied);
  EXPECT_EQ(reg_.DeleteKey(kHKeyLocalMachine, base_ + L"\\parent\\child"), ERROR_SUCCESS);
  EXPECT_EQ(reg_.DeleteKey(kHKeyLocalMachine, base_ + L"\\parent"), ERROR_SUCCESS);
  EXPECT_EQ(reg_.DeleteKey(kHKeyLocalMachine, base_ + L"\\parent"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg_.CreateKey(kHKeyLocalMachine, base_, key.Out()), ERROR_SUCCESS);
  EXPECT_EQ(reg_.DeleteValue(key.Get(), L"none"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg_.SetString(key.Get(), L"v", L"x"), ERROR_SUCCESS);
  EXPECT_EQ(reg_.DeleteValue(key.Get(), L"V"), ERROR_SUCCESS);
}

TEST_F(Win32RegistryTest, NamesThatTheCodePageCannotHoldReachNoKey) {
  KeyHandle key(reg_);
  ASSERT_EQ(reg_.CreateKey(kHKeyLocalMachine, base_ + L"\\x", key.Out()), ERROR_SUCCESS);
  key.Reset();
  std::string probe;
  const std::wstring foreign = L"\x4E2D";
  if (!win32::ToAnsi(foreign, &probe)) {
    // As '?' the name would be another key's, or a new one.
    EXPECT_EQ(reg_.CreateKey(kHKeyLocalMachine, base_ + L"\\" + foreign, key.Out()), win32::kErrorInvalidParameter);
    EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, base_ + L"\\" + foreign, platform::kKeyRead, key.Out()),
              win32::kErrorInvalidParameter);
    EXPECT_FALSE(key);
  }
  const std::wstring withNul = base_ + L"\\x" + std::wstring(1, L'\0') + L"y";
  EXPECT_EQ(reg_.DeleteKey(kHKeyLocalMachine, withNul), win32::kErrorInvalidParameter);
  ASSERT_EQ(reg_.OpenKey(kHKeyLocalMachine, base_ + L"\\x", platform::kKeyRead, key.Out()), ERROR_SUCCESS);
  EXPECT_EQ(reg_.SetString(key.Get(), std::wstring(L"a\0b", 3), L"v"), win32::kErrorInvalidParameter);
}

TEST_F(Win32RegistryTest, TheRootNeedsNoClosing) {
  // HKEY_LOCAL_MACHINE is sign-extended in a 64-bit build; the interface's
  // constant stands for it either way.
  KeyHandle key(reg_);
  EXPECT_EQ(reg_.OpenKey(kHKeyLocalMachine, L"", platform::kKeyRead, key.Out()), ERROR_SUCCESS);
  EXPECT_EQ(reg_.CloseKey(kHKeyLocalMachine), ERROR_SUCCESS);
  std::wstring name;
  EXPECT_EQ(reg_.EnumKey(kHKeyLocalMachine, 0, 255, &name), ERROR_SUCCESS);
  EXPECT_FALSE(name.empty());
}

}  // namespace
