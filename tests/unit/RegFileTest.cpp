// Registry files parsed and written without a registry.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/RegFile.h"

namespace {

using regfile::Error;

regfile::File ParseOk(const std::string& bytes) {
  std::vector<Error> errors;
  regfile::File file = regfile::Parse(bytes, &errors);
  for (const auto& e : errors) ADD_FAILURE() << e.line << ": " << text::ToUtf8(e.message);
  return file;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<std::uint8_t> v;
  for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

TEST(RegFileTest, ReadsEveryKindOfLine) {
  const regfile::File file = ParseOk(
      "REGEDIT4\r\n\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"
      "@=\"default\"\r\n"
      "\"quote \\\" and \\\\\"=\"C:\\\\dir\\\\ \\\"x\\\"\"\r\n"
      "\"n\" = dword:0000002A\r\n"
      "\"bin\"=hex:01, ff,\\\r\n"
      "   2a\r\n"
      "\"empty\"=hex:\r\n"
      "\"exp\"=hex(2):25,41,25,00\r\n"
      "\"exp16\"=hex(2):25,00,42,00,25,00,00,00\r\n"
      "\"raw\"=hex(1):61,00\r\n"
      "\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
      "\"gone\"=-\r\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n"
      "[hkey_local_machine]\r\n");
  EXPECT_EQ(file.format, regfile::Format::Regedit4);
  ASSERT_EQ(file.sections.size(), 3u);
  const auto& a = file.sections[0];
  EXPECT_EQ(a.path, L"Software\\A");
  EXPECT_EQ(a.line, 4);
  ASSERT_EQ(a.values.size(), 10u);
  EXPECT_EQ(a.values[0].name, L"");
  EXPECT_EQ(a.values[0].text, L"default");
  EXPECT_EQ(a.values[1].name, L"quote \" and \\");
  EXPECT_EQ(a.values[1].text, L"C:\\dir\\ \"x\"");
  EXPECT_EQ(a.values[1].type, platform::kRegSz);
  EXPECT_EQ(a.values[2].type, platform::kRegDword);
  EXPECT_EQ(a.values[2].bytes, Bytes({0x2a, 0, 0, 0}));
  EXPECT_EQ(a.values[3].type, platform::kRegBinary);
  EXPECT_EQ(a.values[3].bytes, Bytes({1, 0xff, 0x2a}));
  EXPECT_EQ(a.values[3].line, 8);
  EXPECT_TRUE(a.values[4].bytes.empty());
  EXPECT_EQ(a.values[5].type, platform::kRegExpandSz);
  EXPECT_TRUE(a.values[5].HoldsText());
  EXPECT_EQ(a.values[5].text, L"%A%");
  EXPECT_EQ(a.values[6].text, L"%B%");
  EXPECT_FALSE(a.values[7].HoldsText());
  EXPECT_EQ(a.values[7].bytes, Bytes({'a', 0}));
  EXPECT_EQ(a.values[8].type, 11u);
  EXPECT_TRUE(a.values[9].remove);
  EXPECT_TRUE(file.sections[1].remove);
  EXPECT_EQ(file.sections[1].path, L"Software\\Old");
  EXPECT_EQ(file.sections[2].path, L"");
}

TEST(RegFileTest, VersionFiveInUtf16WithItsByteOrderMark) {
  const std::wstring content =
      L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\\x00dc\x0148]\r\n"
      L"\"\x65e5\x672c\"=\"\U0001F600\"\r\n\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n";
  const regfile::File file = ParseOk("\xFF\xFE" + text::ToUtf16Le(content));
  EXPECT_EQ(file.format, regfile::Format::Version5);
  ASSERT_EQ(file.sections.size(), 1u);
  EXPECT_EQ(file.sections[0].path, L"Software\\\x00dc\x0148");
  ASSERT_EQ(file.sections[0].values.size(), 2u);
  EXPECT_EQ(file.sections[0].values[0].name, L"\x65e5\x672c");
  EXPECT_EQ(file.sections[0].values[0].text, L"\U0001F600");
  EXPECT_EQ(file.sections[0].values[1].text, L"%A%");
}

TEST(RegFileTest, MalformedLinesAreReportedWithTheirLines) {
  struct Case {
    const char* body;  // after "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n", so its first line is 3
    std::int32_t line;
    const wchar_t* message;  // the start of the message
  } cases[] = {
      {"\"a\"=dword:123456789", 3, L"dword: takes one to eight hex digits"},
      {"\"a\"=dword:xyz", 3, L"dword: takes"},
      {"\"a\"=hex:1,2x", 3, L"hex data must be"},
      {"\"a\"=hex(zz):01", 3, L"hex(N): needs"},
      {"\"a\"=hex;01", 3, L"expecting : after hex"},
      {"\"a\"=hex:01,\\", 3, L"the hex data continues past the end"},
      {"\"a\"=\"open", 3, L"value data: the quoted string has no closing quote"},
      {"\"a\"=\"x\\n\"", 3, L"value data: a backslash"},
      {"\"a\"=\"x\" tail", 3, L"text after the closing quote"},
      {"\"a\" \"b\"", 3, L"expecting = after the value name"},
      {"\"a\"=text", 3, L"unknown value data"},
      {"garbage", 3, L"expecting a [key]"},
      {"[HKEY_LOCAL_MACHINE\\K", 3, L"a key line must end with ]"},
      {"[HKEY_CURRENT_USER\\Software]", 3, L"only keys below HKEY_LOCAL_MACHINE"},
      {"[Software\\X]", 3, L"the key must be named with its root"},
      {"[HKEY_LOCAL_MACHINE\\a\\\\b]", 3, L"the key path has an empty name"},
      {"[-HKEY_LOCAL_MACHINE]", 3, L"HKEY_LOCAL_MACHINE itself cannot be deleted"},
      {"[-HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\"", 4, L"a value line cannot follow a [-key]"},
      {"\n\n\"ok\"=\"x\"\n\"a\"=hex:01,\\\n  zz", 6, L"hex data must be"},
  };
  for (const auto& c : cases) {
    std::vector<Error> errors;
    regfile::Parse(std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n") + c.body, &errors);
    ASSERT_EQ(errors.size(), 1u) << c.body;
    EXPECT_EQ(errors[0].line, c.line) << c.body;
    EXPECT_EQ(errors[0].message.rfind(c.message, 0), 0u) << c.body << " gave " << text::ToUtf8(errors[0].message);
  }
}

TEST(RegFileTest, HeaderAndPlacementErrors) {
  struct Case {
    const char* file;
    std::int32_t line;
    const wchar_t* message;
  } cases[] = {
      {"", 1, L"not a registry file"},
      {"\n\nREGEDIT5\n", 3, L"not a registry file"},
      {"REGEDIT4\n\"a\"=\"b\"\n", 2, L"a value line must follow a [key] line"},
      {"REGEDIT4\n[HKEY_USERS\\x]\n\"a\"=\"b\"\n", 2, L"only keys below"},
  };
  for (const auto& c : cases) {
    std::vector<Error> errors;
    regfile::Parse(c.file, &errors);
    ASSERT_FALSE(errors.empty()) << c.file;
    EXPECT_EQ(errors[0].line, c.line) << c.file;
    EXPECT_EQ(errors[0].message.rfind(c.message, 0), 0u) << c.file << " gave " << text::ToUtf8(errors[0].message);
  }
}

TEST(RegFileTest, WritesValuesAsTheRegistryEditorDoes) {
  regfile::File file;
  regfile::Section s;
  s.path = L"Software\\A";
  auto add = [&](std::wstring name, std::uint32_t type, std::wstring text, std::vector<std::uint8_t> bytes) {
    regfile::Value v;
    v.name = std::move(name);
    v.type = type;
    v.text = std::move(text);
    v.bytes = std::move(bytes);
    s.values.push_back(v);
  };
  add(L"", platform::kRegSz, L"say \"hi\" \\", {});
  add(L"n", platform::kRegDword, L"", Bytes({0xef, 0xbe, 0xad, 0xde}));
  add(L"b", platform::kRegBinary, L"", Bytes({0, 1, 0xab}));
  add(L"e", platform::kRegExpandSz, L"%A%", {});
  add(L"two\nlines", platform::kRegSz, L"", {});
  add(L"nl", platform::kRegSz, L"a\nb", {});
  add(L"long", platform::kRegBinary, L"", std::vector<std::uint8_t>(30, 0x11));
  file.sections.push_back(s);
  std::vector<Error> errors;
  const std::wstring out = regfile::ToText(file, &errors);
  EXPECT_EQ(out,
            L"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\A]\n"
            L"@=\"say \\\"hi\\\" \\\\\"\n"
            L"\"n\"=dword:deadbeef\n"
            L"\"b\"=hex:00,01,ab\n"
            L"\"e\"=hex(2):25,00,41,00,25,00,00,00\n"
            L"\"nl\"=hex(1):61,0a,62,00\n"
            L"\"long\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\n"
            L"  11,11,11,11,11,11,11,11\n");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].message.find(L"line break"), std::wstring::npos);
}

TEST(RegFileTest, KeyNamesGivenByUsers) {
  struct Case {
    const wchar_t* given;
    bool ok;
    const wchar_t* path;
  } cases[] = {
      {L"", true, L""},
      {L"Software\\X", true, L"Software\\X"},
      {L"HKEY_LOCAL_MACHINE\\Software\\X\\", true, L"Software\\X"},
      {L"hklm\\Software", true, L"Software"},
      {L"HKEY_LOCAL_MACHINE", true, L""},
      {L"HKEY_CURRENT_USER\\Software", false, L""},
      {L"HKCU", false, L""},
  };
  for (const auto& c : cases) {
    std::wstring path;
    EXPECT_EQ(regfile::KeyBelowRoot(c.given, &path), c.ok) << text::ToUtf8(c.given);
    if (c.ok) {
      EXPECT_EQ(path, c.path) << text::ToUtf8(c.given);
    }
  }
}

TEST(RegFileTest, Utf16Coding) {
  const std::wstring s = L"a\x00e9\x65e5\U0001F600";
  const std::string bytes = text::ToUtf16Le(s);
  EXPECT_EQ(bytes, std::string("a\0\xe9\0\xe5\x65\x3d\xd8\x00\xde", 10));
  EXPECT_EQ(text::FromUtf16Le(bytes), s);
  // A lone surrogate and an odd last byte become U+FFFD.
  EXPECT_EQ(text::FromUtf16Le(std::string("\x3d\xd8" "a\0" "b", 5)), L"\xFFFD" L"a\xFFFD");
}

}  // namespace
