// The registry operations of the script language. Each opens what it needs
// below the given root, does one thing and turns every return code of the
// platform into its documented result. A VslError from the platform (an
// unusable registry file) is not a return code and passes through.
#include <cstring>

#include "platform/Text.h"
#include "utility/Utility.h"

namespace Utility {

using platform::KeyHandle;
using platform::RegKey;

namespace {

constexpr std::uint32_t kReadWrite = platform::kKeyRead | platform::kKeyWrite;                         // 0x2001F
constexpr std::uint32_t kWriteEnumerate = platform::kKeyWrite | platform::kKeyEnumerateSubKeys;  // 0x2000E
// A string value is read into this many bytes, its terminator included.
constexpr std::uint32_t kStringBuffer = 256;
// Subkey names are enumerated into a buffer of this many characters.
constexpr std::uint32_t kNameBuffer = 255;

}  // namespace

std::wstring RegReadString(RegKey root, const std::wstring& keyPath, const std::wstring& valueName) {
  platform::Registry& reg = platform::Reg();
  KeyHandle key(reg);
  if (reg.OpenKey(root, keyPath, platform::kKeyRead, key.Out()) != platform::kErrorSuccess) return L"";
  std::wstring text;
  if (reg.QueryString(key.Get(), valueName, kStringBuffer, &text) != platform::kErrorSuccess) return L"";
  return text;
}

std::wstring RegReadValue(RegKey root, const std::wstring& keyPath, const std::wstring& valueName) {
  platform::Registry& reg = platform::Reg();
  KeyHandle key(reg);
  if (reg.OpenKey(root, keyPath, platform::kKeyRead, key.Out()) != platform::kErrorSuccess) return L"";
  std::uint8_t buffer[4] = {};
  std::uint32_t size = sizeof buffer;
  std::uint32_t type = 0;
  if (reg.QueryValue(key.Get(), valueName, &type, buffer, &size) != platform::kErrorSuccess) return L"";
  if (type != platform::kRegDword) return L"";
  std::int32_t value = 0;
  std::memcpy(&value, buffer, sizeof value);
  return text::Decimal(value);
}

// The calls of one write (opening or creating the key, setting the value)
// go together where the platform can make them one transaction: a write
// then takes the registry's lock and commits once.

bool RegWriteString(RegKey root, const std::wstring& keyPath, const std::wstring& valueName,
                    const std::wstring& data) {
  platform::Registry& reg = platform::Reg();
  bool written = false;
  reg.Transact([&] {
    KeyHandle key(reg);
    if (reg.CreateKey(root, keyPath, key.Out()) != platform::kErrorSuccess || !key) return;
    written = reg.SetString(key.Get(), valueName, data) == platform::kErrorSuccess;
  });
  return written;
}

bool RegWriteValue(RegKey root, const std::wstring& keyPath, const std::wstring& valueName, std::int32_t data) {
  platform::Registry& reg = platform::Reg();
  bool written = false;
  reg.Transact([&] {
    KeyHandle key(reg);
    if (reg.OpenKey(root, keyPath, platform::kKeySetValue, key.Out()) != platform::kErrorSuccess) return;
    std::uint8_t bytes[4];
    std::memcpy(bytes, &data, sizeof bytes);
    written = reg.SetValue(key.Get(), valueName, platform::kRegDword, bytes, sizeof bytes) == platform::kErrorSuccess;
  });
  return written;
}

std::wstring RegDelString(RegKey root, const std::wstring& keyPath, const std::wstring& valueName) {
  platform::Registry& reg = platform::Reg();
  KeyHandle key(reg);
  if (reg.OpenKey(root, keyPath, kReadWrite, key.Out()) != platform::kErrorSuccess) return L"";
  return reg.DeleteValue(key.Get(), valueName) == platform::kErrorSuccess ? L"TRUE" : L"FALSE";
}

std::wstring RegCountSubNode(RegKey root, const std::wstring& keyPath) {
  if (keyPath.empty()) return L"0";
  platform::Registry& reg = platform::Reg();
  KeyHandle key(reg);
  if (reg.OpenKey(root, keyPath, kWriteEnumerate, key.Out()) != platform::kErrorSuccess) return L"255";
  long long count = 0;
  std::wstring name;
  // Counts until the end of the list or the first failure of any kind.
  for (std::uint32_t index = 0;; ++index) {
    if (reg.EnumKey(key.Get(), index, kNameBuffer, &name) != platform::kErrorSuccess) break;
    ++count;
  }
  return text::Decimal(count);
}

std::wstring RegDelKeyTree(RegKey parent, const std::wstring& keyPath) {
  if (keyPath.empty()) return L"";
  platform::Registry& reg = platform::Reg();
  KeyHandle key(reg);
  if (reg.OpenKey(parent, keyPath, kWriteEnumerate, key.Out()) != platform::kErrorSuccess) return L"False";
  std::wstring result;
  std::wstring name;
  while (true) {
    // Each pass removes the first subkey, so the next one is at index 0 again.
    long rc = reg.EnumKey(key.Get(), 0, kNameBuffer, &name);
    if (rc == platform::kErrorNoMoreItems) {
      result = reg.DeleteKey(parent, keyPath) == platform::kErrorSuccess ? L"True" : L"False";
      break;
    }
    if (rc != platform::kErrorSuccess) break;
    result = RegDelKeyTree(key.Get(), name);
    if (result != L"True") break;
  }
  return result;
}

void RegDelKey(RegKey root, const std::wstring& keyPath) { platform::Reg().DeleteKey(root, keyPath); }

bool IsRegKeyExists(const std::wstring& keyPath) {
  platform::Registry& reg = platform::Reg();
  KeyHandle key(reg);
  return reg.OpenKey(platform::kHKeyLocalMachine, keyPath, platform::kKeyRead, key.Out()) == platform::kErrorSuccess;
}

}  // namespace Utility
