// The registry operations of the script language. Each opens what it needs
// below the given root, does one thing and turns every return code of the
// platform into its documented result. A VslError from the platform (an
// unusable registry file) is not a return code and passes through.
#include <cstring>
#include <deque>
#include <utility>

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
  // Every subkey goes before its key. The keys being emptied are kept open
  // one above the other, on the heap: however deep the tree, the walk needs
  // no stack in proportion. Each level answers as the key it stands for
  // would: "True" once it is deleted, "False" when it cannot be opened or
  // deleted, and a subkey's answer other than "True" stops it with that
  // answer, the key staying.
  struct Level {
    Level(platform::Registry& r, RegKey p, std::wstring n) : key(r), parent(p), path(std::move(n)) {}
    KeyHandle key;
    RegKey parent;
    std::wstring path;
    std::wstring result;
  };
  std::deque<Level> levels;
  levels.emplace_back(reg, parent, keyPath);
  if (reg.OpenKey(parent, keyPath, kWriteEnumerate, levels.back().key.Out()) != platform::kErrorSuccess)
    return L"False";
  std::wstring name;
  while (true) {
    Level& level = levels.back();
    // Each pass removes the first subkey, so the next one is at index 0 again.
    const long rc = reg.EnumKey(level.key.Get(), 0, kNameBuffer, &name);
    std::wstring answer;
    if (rc == platform::kErrorSuccess) {
      Level& child = levels.emplace_back(reg, level.key.Get(), name);
      if (reg.OpenKey(child.parent, child.path, kWriteEnumerate, child.key.Out()) == platform::kErrorSuccess)
        continue;
      answer = L"False";
    } else if (rc == platform::kErrorNoMoreItems) {
      answer = reg.DeleteKey(level.parent, level.path) == platform::kErrorSuccess ? L"True" : L"False";
    } else {
      answer = level.result;
    }
    // The level is done; its answer goes to the level above, which goes on
    // with its next subkey only when that answer is "True".
    levels.pop_back();
    while (!levels.empty()) {
      levels.back().result = answer;
      if (answer == L"True") break;
      levels.pop_back();
    }
    if (levels.empty()) return answer;
  }
}

void RegDelKey(RegKey root, const std::wstring& keyPath) { platform::Reg().DeleteKey(root, keyPath); }

bool IsRegKeyExists(const std::wstring& keyPath) {
  platform::Registry& reg = platform::Reg();
  KeyHandle key(reg);
  return reg.OpenKey(platform::kHKeyLocalMachine, keyPath, platform::kKeyRead, key.Out()) == platform::kErrorSuccess;
}

}  // namespace Utility
