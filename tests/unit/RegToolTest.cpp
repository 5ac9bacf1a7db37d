// vsltool reg's export and import over a registry database.
#include <cstring>
#include <string>

using namespace std::string_literals;

#include "ToolsFixture.h"
#include "driver/RegTool.h"
#include "utility/Utility.h"

namespace {

using platform::KeyHandle;

class RegToolTest : public ToolsFixture {
 protected:
  void SetRaw(const std::wstring& key, const std::wstring& name, std::uint32_t type, const std::string& data) {
    platform::Registry& reg = platform::Reg();
    KeyHandle k(reg);
    ASSERT_EQ(reg.CreateKey(platform::kHKeyLocalMachine, key, k.Out()), platform::kErrorSuccess);
    ASSERT_EQ(reg.SetValue(k.Get(), name, type, reinterpret_cast<const std::uint8_t*>(data.data()),
                           static_cast<std::uint32_t>(data.size())),
              platform::kErrorSuccess);
  }
  std::string Raw(const std::wstring& key, const std::wstring& name, std::uint32_t* type = nullptr) {
    platform::Registry& reg = platform::Reg();
    KeyHandle k(reg);
    if (reg.OpenKey(platform::kHKeyLocalMachine, key, platform::kKeyRead, k.Out()) != platform::kErrorSuccess)
      return "<no key>";
    std::uint8_t buf[4096];
    std::uint32_t size = sizeof buf;
    std::uint32_t t = 0;
    if (reg.QueryValue(k.Get(), name, &t, buf, &size) != platform::kErrorSuccess) return "<no value>";
    if (type != nullptr) *type = t;
    return std::string(reinterpret_cast<char*>(buf), size);
  }
  std::wstring ExportText(const std::wstring& path = L"") {
    std::vector<regfile::Error> errors;
    std::wstring out = regfile::ToText(regtool::Export(path), &errors);
    EXPECT_TRUE(errors.empty());
    return out;
  }
  void ImportText(const std::wstring& content) {
    std::vector<regfile::Error> errors;
    const regfile::File file = regfile::Parse(text::ToUtf8(content), &errors);
    ASSERT_TRUE(errors.empty()) << text::ToUtf8(errors[0].message);
    regtool::Import(file);
  }
};

// Names and values holding ", \, = and characters beyond ASCII, and every
// type, go out and come back into another registry unchanged.
TEST_F(RegToolTest, ExportThenImportRoundTrip) {
  const std::wstring key = L"Software\\Gr\x00fc\x00df" L"e \"q\" = \\x";
  SetRaw(key, L"", platform::kRegSz, "default\0"s);
  SetRaw(key, L"a\"b\\c=d", platform::kRegSz, "va\"l\\ue=\xc3\xa9\xe6\x97\xa5\0"s);
  SetRaw(key, L"\x00e9t\x00e9", platform::kRegDword, "\x2a\0\0\x80"s);
  SetRaw(key, L"bin", platform::kRegBinary, std::string(100, '\x7f') + "\0\xff"s);
  SetRaw(key, L"exp", platform::kRegExpandSz, "%PATH%;\xc3\xbc\0"s);
  SetRaw(key, L"lines", platform::kRegSz, "one\ntwo\0"s);
  SetRaw(key, L"no nul", platform::kRegSz, "abc"s);
  SetRaw(key, L"bad utf8", platform::kRegSz, "\xff\xfe\0"s);
  SetRaw(key, L"qword", 11, "12345678"s);
  SetRaw(key, L"short dword", platform::kRegDword, "\x01\x02"s);
  SetRaw(L"Software\\Empty\\Deeper", L"x", platform::kRegSz, "y\0"s);
  {
    KeyHandle k(platform::Reg());
    ASSERT_EQ(platform::Reg().CreateKey(platform::kHKeyLocalMachine, L"Software\\Empty\\Leaf", k.Out()), 0);
  }
  const std::wstring first = ExportText();

  auto other = NewRegistry("other.db");
  platform::Platform p = platform::Current();
  p.registry = other.get();
  platform::ScopedPlatform second(p);
  ImportText(first);
  EXPECT_EQ(ExportText(), first);
  for (const wchar_t* name : {L"", L"a\"b\\c=d", L"\x00e9t\x00e9", L"bin", L"exp", L"lines", L"no nul", L"bad utf8",
                              L"qword", L"short dword"}) {
    std::uint32_t t1 = 0, t2 = 0;
    const std::string copy = Raw(key, name, &t2);
    platform::ScopedPlatform back(platform::Platform{fs_.get(), registry_.get()});
    EXPECT_EQ(copy, Raw(key, name, &t1)) << text::ToUtf8(name);
    EXPECT_EQ(t2, t1) << text::ToUtf8(name);
  }
  EXPECT_EQ(Raw(L"Software\\Empty\\Leaf", L"none"), "<no value>");
}

TEST_F(RegToolTest, ExportOrdersKeysAndValuesWithoutRegardToCase) {
  for (const wchar_t* k : {L"S\\b", L"S\\A", L"S\\C", L"S\\a2"}) SetRaw(k, L"v", platform::kRegSz, "1\0"s);
  for (const wchar_t* v : {L"zeta", L"Alpha", L"", L"beta"}) SetRaw(L"S", v, platform::kRegSz, "x\0"s);
  EXPECT_EQ(ExportText(L"s"),
            L"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n@=\"x\"\n\"Alpha\"=\"x\"\n\"beta\"=\"x\"\n\"zeta\"=\"x\"\n\n"
            L"[HKEY_LOCAL_MACHINE\\S\\A]\n\"v\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\S\\a2]\n\"v\"=\"1\"\n\n"
            L"[HKEY_LOCAL_MACHINE\\S\\b]\n\"v\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\S\\C]\n\"v\"=\"1\"\n");
  EXPECT_THROW(regtool::Export(L"S\\missing"), VslError);
}

TEST_F(RegToolTest, DeletionsOfKeysAndValues) {
  SetRaw(L"Software\\Gone\\Sub\\Deep", L"x", platform::kRegSz, "1\0"s);
  SetRaw(L"Software\\Keep", L"drop", platform::kRegSz, "1\0"s);
  SetRaw(L"Software\\Keep", L"stay", platform::kRegSz, "2\0"s);
  ImportText(
      L"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\Software\\Gone]\n[-HKEY_LOCAL_MACHINE\\Software\\NeverWas]\n"
      L"[HKEY_LOCAL_MACHINE\\Software\\Keep]\n\"drop\"=-\n\"never\"=-\n");
  EXPECT_FALSE(Utility::IsRegKeyExists(L"Software\\Gone"));
  EXPECT_EQ(Raw(L"Software\\Keep", L"drop"), "<no value>");
  EXPECT_EQ(Raw(L"Software\\Keep", L"stay"), "2\0"s);
}

// A failure half-way (a key name longer than the registry allows) undoes
// what the file did before it and names the line.
TEST_F(RegToolTest, FailedImportChangesNothing) {
  SetRaw(L"Software\\Old", L"v", platform::kRegSz, "before\0"s);
  std::vector<regfile::Error> errors;
  const regfile::File file = regfile::Parse(
      text::ToUtf8(L"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Old]\n\"v\"=\"after\"\n[HKEY_LOCAL_MACHINE\\Software\\New]\n"
                   L"[-HKEY_LOCAL_MACHINE\\Software\\Old]\n[HKEY_LOCAL_MACHINE\\Software\\" +
                   std::wstring(300, L'k') + L"]\n"),
      &errors);
  ASSERT_TRUE(errors.empty());
  try {
    regtool::Import(file);
    FAIL() << "the import went through";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Number(), 6);
  }
  EXPECT_EQ(Raw(L"Software\\Old", L"v"), "before\0"s);
  EXPECT_FALSE(Utility::IsRegKeyExists(L"Software\\New"));
}

}  // namespace
