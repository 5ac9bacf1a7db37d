#include "driver/RegTool.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <utility>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/Utility.h"

namespace regtool {

using platform::KeyHandle;
using platform::RegKey;

namespace {

// Key names are at most 255 characters; room for the longest and its NUL.
constexpr std::uint32_t kNameCapacity = 256;

bool NameLess(const std::wstring& a, const std::wstring& b) {
  const int c = text::CompareNoCase(a, b);
  return c != 0 ? c < 0 : a < b;
}

std::wstring ShownKey(const std::wstring& path) {
  return path.empty() ? regfile::kRootName : std::wstring(regfile::kRootName) + L"\\" + path;
}

std::wstring Code(long rc) { return L" (error " + text::Decimal(rc) + L")"; }

// A value as the file holds it. A REG_SZ whose data is not its text and one
// NUL in the platform's encoding is kept as its bytes.
regfile::Value FileValue(platform::Registry& reg, std::wstring name, std::uint32_t type,
                         const std::vector<std::uint8_t>& data) {
  regfile::Value v;
  v.name = std::move(name);
  v.type = type;
  if (type == platform::kRegSz || type == platform::kRegExpandSz) {
    std::string_view body(reinterpret_cast<const char*>(data.data()), data.size());
    if (!body.empty() && body.back() == '\0') body.remove_suffix(1);
    v.text = reg.DecodeText(body);
    const bool clean = data.size() == body.size() + 1 && body.find('\0') == std::string_view::npos &&
                       reg.EncodeText(v.text) == body;
    if (type == platform::kRegSz && !clean) {
      v.raw = true;
      v.text.clear();
      v.bytes = data;
    }
    return v;
  }
  v.bytes = data;
  return v;
}

// The section of one key: its path and its values in case-insensitive name
// order.
regfile::Section ReadValues(platform::Registry& reg, RegKey key, const std::wstring& path) {
  regfile::Section section;
  section.path = path;
  std::wstring name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  for (std::uint32_t i = 0;; ++i) {
    const long rc = reg.EnumValue(key, i, &name, &type, &data);
    if (rc == platform::kErrorNoMoreItems) break;
    if (rc != platform::kErrorSuccess) throw VslError(L"Cannot read the values of " + ShownKey(path) + Code(rc));
    section.values.push_back(FileValue(reg, name, type, data));
  }
  std::sort(section.values.begin(), section.values.end(),
            [](const regfile::Value& a, const regfile::Value& b) { return NameLess(a.name, b.name); });
  return section;
}

// The names of a key's subkeys in case-insensitive name order.
std::vector<std::wstring> ReadSubkeys(platform::Registry& reg, RegKey key, const std::wstring& path) {
  std::vector<std::wstring> subkeys;
  std::wstring name;
  for (std::uint32_t i = 0;; ++i) {
    const long rc = reg.EnumKey(key, i, kNameCapacity, &name);
    if (rc == platform::kErrorNoMoreItems) break;
    if (rc != platform::kErrorSuccess) throw VslError(L"Cannot read the subkeys of " + ShownKey(path) + Code(rc));
    subkeys.push_back(name);
  }
  // The registry's own order is that order where it keeps one.
  if (!std::is_sorted(subkeys.begin(), subkeys.end(), NameLess)) std::sort(subkeys.begin(), subkeys.end(), NameLess);
  return subkeys;
}

[[noreturn]] void FailAt(std::int32_t line, const std::wstring& message) { throw VslError(message, line); }

// Applies what a file holds to the registry, section by section and value
// by value as they come.
class Applier {
 public:
  explicit Applier(platform::Registry& reg) : reg_(reg), key_(reg) {}

  void Section(const regfile::Section& section) {
    key_.Reset();
    if (section.remove) {
      if (!Utility::IsRegKeyExists(section.path)) return;
      if (Utility::RegDelKeyTree(platform::kHKeyLocalMachine, section.path) != L"True")
        FailAt(section.line, L"cannot delete " + ShownKey(section.path));
      return;
    }
    if (const long rc = reg_.CreateKey(platform::kHKeyLocalMachine, section.path, key_.Out());
        rc != platform::kErrorSuccess)
      FailAt(section.line, L"cannot create " + ShownKey(section.path) + Code(rc));
  }

  void Value(const regfile::Section& section, const regfile::Value& v) {
    long rc = platform::kErrorSuccess;
    if (v.remove) {
      rc = reg_.DeleteValue(key_.Get(), v.name);
      if (rc == platform::kErrorFileNotFound) rc = platform::kErrorSuccess;  // gone already
    } else if (v.HoldsText() && v.type == platform::kRegSz) {
      rc = reg_.SetString(key_.Get(), v.name, v.text);
    } else if (v.HoldsText()) {
      std::string bytes = reg_.EncodeText(v.text);
      bytes.push_back('\0');
      rc = reg_.SetValue(key_.Get(), v.name, v.type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                         static_cast<std::uint32_t>(bytes.size()));
    } else {
      rc = reg_.SetValue(key_.Get(), v.name, v.type, v.bytes.data(), static_cast<std::uint32_t>(v.bytes.size()));
    }
    if (rc != platform::kErrorSuccess)
      FailAt(v.line, L"cannot " + std::wstring(v.remove ? L"delete" : L"set") + L" the value \"" + v.name +
                         L"\" of " + ShownKey(section.path) + Code(rc));
  }

 private:
  platform::Registry& reg_;
  KeyHandle key_;
};

void ExportFrom(platform::Registry& reg, const std::wstring& path,
                const std::function<void(const regfile::Section&)>& sink) {
  // One level of the walk: an open key, where its path ends in `current`,
  // and the subkeys still to visit. The walk keeps one level per key above
  // the one it visits, on the heap: a key thousands of levels deep costs
  // memory in proportion, never the stack.
  struct Level {
    explicit Level(platform::Registry& r) : key(r) {}
    KeyHandle key;
    std::size_t pathEnd = 0;
    std::vector<std::wstring> subkeys;
    std::size_t next = 0;
  };
  std::deque<Level> levels;
  // The key is opened one name at a time from the root, and the path is
  // spelt as the registry stores it, whatever case the user typed.
  std::wstring current;
  KeyHandle first(reg), second(reg);
  KeyHandle* parentHandle = &first;
  KeyHandle* childHandle = &second;
  RegKey parent = platform::kHKeyLocalMachine;
  std::wstring_view rest(path);
  while (!rest.empty()) {
    const std::size_t sep = rest.find(L'\\');
    const std::wstring part(rest.substr(0, sep));
    rest = sep == std::wstring_view::npos ? std::wstring_view() : rest.substr(sep + 1);
    if (part.empty()) throw VslError(L"no such key: " + ShownKey(path));
    std::wstring name = part;
    std::wstring candidate;
    for (std::uint32_t i = 0; reg.EnumKey(parent, i, kNameCapacity, &candidate) == platform::kErrorSuccess; ++i) {
      if (text::EqualsNoCase(candidate, part)) {
        name = candidate;
        break;
      }
    }
    current += (current.empty() ? L"" : L"\\") + name;
    const long rc = reg.OpenKey(parent, part, platform::kKeyRead, childHandle->Out());
    if (rc == platform::kErrorFileNotFound) throw VslError(L"no such key: " + ShownKey(path));
    if (rc != platform::kErrorSuccess) throw VslError(L"Cannot open " + ShownKey(current) + Code(rc));
    // The parent is closed once its child is open.
    parentHandle->Reset();
    std::swap(parentHandle, childHandle);
    parent = parentHandle->Get();
  }
  levels.emplace_back(reg);
  if (const long rc = reg.OpenKey(parent, L"", platform::kKeyRead, levels.back().key.Out());
      rc != platform::kErrorSuccess)
    throw VslError(L"Cannot open " + ShownKey(current) + Code(rc));
  parentHandle->Reset();

  // Parents before their subkeys: a key's section is written when the walk
  // reaches it, then its subkeys are visited in order.
  sink(ReadValues(reg, levels.back().key.Get(), current));
  levels.back().pathEnd = current.size();
  levels.back().subkeys = ReadSubkeys(reg, levels.back().key.Get(), current);
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.subkeys.size()) {
      levels.pop_back();
      continue;
    }
    const std::wstring& sub = level.subkeys[level.next++];
    current.resize(level.pathEnd);
    current += (current.empty() ? L"" : L"\\") + sub;
    Level& child = levels.emplace_back(reg);
    const long rc = reg.OpenKey(level.key.Get(), sub, platform::kKeyRead, child.key.Out());
    if (rc != platform::kErrorSuccess) throw VslError(L"Cannot open " + ShownKey(current) + Code(rc));
    sink(ReadValues(reg, child.key.Get(), current));
    child.pathEnd = current.size();
    child.subkeys = ReadSubkeys(reg, child.key.Get(), current);
  }
}

}  // namespace

void Export(const std::wstring& path, const std::function<void(const regfile::Section&)>& sink) {
  platform::Registry& reg = platform::Reg();
  // The registry as it is at one moment, whatever other processes change
  // meanwhile.
  reg.Snapshot([&] { ExportFrom(reg, path, sink); });
}

void Import(const std::function<void(regfile::Reader&)>& feed) {
  platform::Registry& reg = platform::Reg();
  reg.Transact([&] {
    Applier applier(reg);
    regfile::Reader::Events events;
    events.section = [&](const regfile::Section& section) { applier.Section(section); };
    events.value = [&](const regfile::Section& section, const regfile::Value& value) { applier.Value(section, value); };
    events.error = [](const regfile::Error& error) { FailAt(error.line, error.message); };
    regfile::Reader reader(std::move(events));
    feed(reader);
  });
}

void Import(const regfile::File& file) {
  platform::Registry& reg = platform::Reg();
  reg.Transact([&] {
    Applier applier(reg);
    for (const regfile::Section& section : file.sections) {
      applier.Section(section);
      for (const regfile::Value& value : section.values) applier.Value(section, value);
    }
  });
}

}  // namespace regtool
