// vsltool reg: the registry exported to registry files and loaded from them.
#include "Doubles.h"
#include "driver/RegTool.h"

namespace {

using namespace std::string_literals;
using platform::kRegSz;

class RegTool : public ScratchPlatform {
 protected:
  // "type:bytes" of a value, or "-" when there is none.
  std::string Get(const std::wstring& key, const std::wstring& name) {
    platform::KeyHandle k(platform::Reg());
    std::uint8_t buf[4096];
    std::uint32_t size = sizeof buf, t = 0;
    if (platform::Reg().OpenKey(platform::kHKeyLocalMachine, key, platform::kKeyRead, k.Out()) != 0 ||
        platform::Reg().QueryValue(k.Get(), name, &t, buf, &size) != 0) return "-";
    return std::to_string(t) + ":" + std::string(reinterpret_cast<char*>(buf), size);
  }
  std::wstring Export(const std::wstring& path = L"") {
    std::vector<regfile::Error> errors;
    std::wstring out = regfile::HeaderText(regfile::Format::Regedit4);
    regtool::Export(path, [&](const regfile::Section& s) { out += regfile::SectionText(s, &errors); });
    EXPECT_TRUE(errors.empty());
    return out;
  }
  void Import(const std::wstring& content) {
    std::vector<regfile::Error> errors;
    regtool::Import(regfile::Parse(text::ToUtf8(content), &errors));
  }
};

// Odd names, text beyond ASCII, every type and malformed data come back into another registry unchanged.
TEST_F(RegTool, ExportThenImportRoundTrip) {
  const std::wstring key = L"Software\\Gr\x00fc\x00df" L"e \"q\" = \\x";
  const struct { const wchar_t* name; std::uint32_t type; std::string data; } values[] = {
      {L"", kRegSz, "default\0"s}, {L"a\"b\\c=d", kRegSz, "va\"l\\ue=\xc3\xa9\xe6\x97\xa5\0"s},
      {L"\x00e9t\x00e9", platform::kRegDword, "\x2a\0\0\x80"s}, {L"bin", platform::kRegBinary, std::string(100, 'x') + "\0\xff"s},
      {L"exp", platform::kRegExpandSz, "%PATH%;\xc3\xbc\0"s}, {L"lines", kRegSz, "one\ntwo\0"s}, {L"no nul", kRegSz, "abc"s},
      {L"bad utf8", kRegSz, "\xff\xfe\0"s}, {L"qword", 11, "12345678"s}, {L"short dword", platform::kRegDword, "\x01\x02"s}};
  for (const auto& v : values) SetRaw(key, v.name, v.type, v.data);
  SetRaw(L"Software\\Empty\\Deeper", L"x", kRegSz, "y\0"s);
  platform::KeyHandle leaf(platform::Reg());
  ASSERT_EQ(platform::Reg().CreateKey(platform::kHKeyLocalMachine, L"Software\\Empty\\Leaf", leaf.Out()), 0);
  const std::wstring first = Export();
  posix::PosixRegistry other([p = m.HostPath(L"other.db")] { return p; });
  platform::ScopedPlatform second(platform::Platform{&fs, &other});
  Import(first);
  EXPECT_EQ(Export(), first);
  for (const auto& v : values) EXPECT_EQ(Get(key, v.name), std::to_string(v.type) + ":" + v.data) << text::ToUtf8(v.name);
  EXPECT_NE(Export().find(L"[HKEY_LOCAL_MACHINE\\Software\\Empty\\Leaf]"), std::wstring::npos);
}

TEST_F(RegTool, ExportOrdersKeysAndValuesWithoutRegardToCase) {
  for (const wchar_t* k : {L"S\\b", L"S\\A", L"S\\C", L"S\\a2"}) SetRaw(k, L"v", kRegSz, "1\0"s);
  for (const wchar_t* v : {L"zeta", L"Alpha", L"", L"beta"}) SetRaw(L"S", v, kRegSz, "x\0"s);
  EXPECT_EQ(Export(L"s"),
            L"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n@=\"x\"\n\"Alpha\"=\"x\"\n\"beta\"=\"x\"\n\"zeta\"=\"x\"\n\n"
            L"[HKEY_LOCAL_MACHINE\\S\\A]\n\"v\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\S\\a2]\n\"v\"=\"1\"\n\n"
            L"[HKEY_LOCAL_MACHINE\\S\\b]\n\"v\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\S\\C]\n\"v\"=\"1\"\n");
  EXPECT_THROW(Export(L"S\\missing"), VslError);
}

// Keys and values are deleted; a failure half-way (an overlong key name) undoes what the file did before it.
TEST_F(RegTool, ImportDeletesAndFailsAsAWhole) {
  SetRaw(L"Software\\Gone\\Sub\\Deep", L"x", kRegSz, "1\0"s);
  SetRaw(L"Software\\Keep", L"drop", kRegSz, "1\0"s);
  SetRaw(L"Software\\Keep", L"stay", kRegSz, "2\0"s);
  Import(L"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\Software\\Gone]\n[-HKEY_LOCAL_MACHINE\\Software\\NeverWas]\n"
         L"[HKEY_LOCAL_MACHINE\\Software\\Keep]\n\"drop\"=-\n\"never\"=-\n");
  const std::wstring after = L"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n[HKEY_LOCAL_MACHINE\\Software\\Keep]\n\"stay\"=\"2\"\n";
  EXPECT_EQ(Export(L"Software"), after);
  try {
    Import(L"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Keep]\n\"stay\"=\"after\"\n[HKEY_LOCAL_MACHINE\\Software\\New]\n"
           L"[-HKEY_LOCAL_MACHINE\\Software\\Keep]\n[HKEY_LOCAL_MACHINE\\Software\\" + std::wstring(300, L'k') + L"]\n");
    ADD_FAILURE() << "the import went through";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Number(), 6);
  }
  EXPECT_EQ(Export(L"Software"), after);
}

}  // namespace
