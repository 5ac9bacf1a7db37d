// Registry files parsed and written.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/RegFileContent.h"

namespace {

using platform::kRegSz;

TEST(RegFile, ReadsEveryKindOfLine) {
  std::vector<regfile::Error> errors;
  EXPECT_EQ(RegFileContent(regfile::Parse(
                "REGEDIT4\r\n\r\n; a comment\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n@=\"default\"\r\n"
                "\"quote \\\" and \\\\\"=\"C:\\\\dir\\\\ \\\"x\\\"\"\r\n\"n\" = dword:0000002A\r\n\"bin\"=hex:01, ff,\\\r\n   2a\r\n"
                "\"empty\"=hex:\r\n\"exp\"=hex(2):25,41,25,00\r\n\"exp16\"=hex(2):25,00,42,00,25,00,00,00\r\n"
                "\"raw\"=hex(1):61,00\r\n\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n\"gone\"=-\r\n"
                "[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n[hkey_local_machine]\r\n", &errors)),
            L"0\n[Software\\A]4\n=1:default@5\nquote \" and \\=1:C:\\dir\\ \"x\"@6\nn=4:2a,0,0,0,@7\nbin=3:1,ff,2a,@8\n"
            L"empty=3:@10\nexp=2:%A%@11\nexp16=2:%B%@12\nraw=1:61,0,@13\nq=11:1,2,3,4,5,6,7,8,@14\ngone=0:-@15\n"
            L"-[Software\\Old]16\n[]17");
  EXPECT_TRUE(errors.empty());
  const std::wstring s = L"a\x00e9\x65e5\U0001F600";
  EXPECT_EQ(text::ToUtf16Le(s), std::string("a\0\xe9\0\xe5\x65\x3d\xd8\x00\xde", 10));
  EXPECT_EQ(text::FromUtf16Le(text::ToUtf16Le(s)), s);
  // A lone surrogate and an odd last byte become U+FFFD.
  EXPECT_EQ(text::FromUtf16Le(std::string("\x3d\xd8" "a\0" "b", 5)), L"\xFFFD" L"a\xFFFD");
}

// The file fed to a reader in pieces of `size` bytes.
regfile::File ParseInPieces(const std::string& bytes, std::size_t size, std::vector<regfile::Error>* errors) {
  regfile::File file;
  regfile::Reader::Events events;
  events.section = [&](const regfile::Section& s) { file.sections.push_back(s); };
  events.value = [&](const regfile::Section&, const regfile::Value& v) { file.sections.back().values.push_back(v); };
  events.error = [&](const regfile::Error& e) { errors->push_back(e); };
  regfile::Reader reader(std::move(events));
  for (std::size_t i = 0; i < bytes.size(); i += size) reader.Feed(std::string_view(bytes).substr(i, size));
  reader.Finish();
  file.format = reader.FileFormat();
  return file;
}

// Read in pieces of any size a file reads as it does whole, also where a piece ends inside a CR LF, a
// UTF-16 code unit or a UTF-8 sequence; a stream that starts as no registry file is given up after a few KiB.
TEST(RegFile, ReadsTheSameInPiecesOfAnySize) {
  const std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\S\\\x00e9]\r"
                            L"\"a\"=hex:01,\\\r\n  02\n\"b\"=\"\x65e5\U0001F600\"\r\n\r\n[-HKEY_LOCAL_MACHINE\\T]\r\n\"bad\"\r\n";
  for (const std::string& bytes : {"\xFF\xFE" + text::ToUtf16Le(text), "\xEF\xBB\xBF" + text::ToUtf8(text)}) {
    std::vector<regfile::Error> errors;
    EXPECT_EQ(RegFileContent(regfile::Parse(bytes, &errors)),
              L"1\n[S\\\x00e9]3\na=3:1,2,@4\nb=1:\x65e5\U0001F600@6\n-[T]8");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].line, 9);
    for (std::size_t size = 1; size <= 7; ++size) {
      std::vector<regfile::Error> inPieces;
      EXPECT_EQ(RegFileContent(ParseInPieces(bytes, size, &inPieces)), RegFileContent(regfile::Parse(bytes, &errors)))
          << size;
      ASSERT_EQ(inPieces.size(), 1u) << size;
      EXPECT_EQ(inPieces[0].line, 9) << size;
    }
  }
  std::vector<regfile::Error> errors;
  regfile::Reader::Events events;
  events.error = [&](const regfile::Error& e) { errors.push_back(e); };
  regfile::Reader zeros(std::move(events));
  int pieces = 0;
  for (; !zeros.Stopped() && pieces < 1000; ++pieces) zeros.Feed(std::string(1024, '\0'));
  EXPECT_LT(pieces, 10);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].message.substr(0, 19), L"not a registry file");
}

TEST(RegFile, MalformedLinesAreReportedWithTheirLines) {
  const std::string k = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n";
  const struct { std::string file; std::int32_t line; std::wstring message; } cases[] = {
      {k + "\"a\"=dword:123456789", 3, L"dword: takes one to eight hex digits"}, {k + "\"a\"=dword:xyz", 3, L"dword: takes"},
      {k + "\"a\"=hex:1,2x", 3, L"hex data must be"}, {k + "\"a\"=hex(zz):01", 3, L"hex(N): needs"},
      {k + "\"a\"=hex():01", 3, L"hex(N): needs"}, {k + "\"a\"=hex(123456789):01", 3, L"hex(N): needs"},
      {k + "\"a\"=hex:01,123456789abcdef0123", 3, L"hex data must be"},  // a run of digits too long for any number
      {k + "\"a\"=hex;01", 3, L"expecting : after hex"}, {k + "\"a\"=hex:01,\\", 3, L"the hex data continues past the end"},
      {k + "\"a\"=\"open", 3, L"value data: the quoted string has no closing quote"},
      {k + "\"a\"=\"x\\n\"", 3, L"value data: a backslash"}, {k + "\"a\"=\"x\" tail", 3, L"text after the closing quote"},
      {k + "\"a\" \"b\"", 3, L"expecting = after the value name"}, {k + "\"a\"=text", 3, L"unknown value data"},
      {k + "garbage", 3, L"expecting a [key]"}, {k + "[HKEY_LOCAL_MACHINE\\K", 3, L"a key line must end with ]"},
      {k + "[HKEY_CURRENT_USER\\Software]", 3, L"only keys below HKEY_LOCAL_MACHINE"},
      {k + "[Software\\X]", 3, L"the key must be named with its root"},
      {k + "[HKEY_LOCAL_MACHINE\\a\\\\b]", 3, L"the key path has an empty name"},
      {k + "[-HKEY_LOCAL_MACHINE]", 3, L"HKEY_LOCAL_MACHINE itself cannot be deleted"},
      {k + "[-HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\"", 4, L"a value line cannot follow a [-key]"},
      {k + "\n\n\"ok\"=\"x\"\n\"a\"=hex:01,\\\n  123", 6, L"hex data must be"}, {"", 1, L"not a registry file"},
      {"\n\nREGEDIT5\n", 3, L"not a registry file"}, {"REGEDIT4\n\"a\"=\"b\"\n", 2, L"a value line must follow a [key] line"},
      {"REGEDIT4\n[HKEY_USERS\\x]\n", 2, L"only keys below"},
  };
  for (const auto& c : cases) {
    std::vector<regfile::Error> errors;
    regfile::Parse(c.file, &errors);
    ASSERT_EQ(errors.size(), 1u) << c.file;
    EXPECT_EQ(std::to_wstring(errors[0].line) + L" " + errors[0].message.substr(0, c.message.size()),
              std::to_wstring(c.line) + L" " + c.message) << c.file;
  }
}

TEST(RegFile, WritesValuesAsTheRegistryEditorDoes) {
  regfile::File file{regfile::Format::Regedit4, {{0, L"Software\\A", false, {}}}};
  const std::tuple<std::wstring, std::uint32_t, std::wstring, std::vector<std::uint8_t>> values[] = {
      {L"", kRegSz, L"say \"hi\" \\", {}}, {L"n", platform::kRegDword, L"", {0xef, 0xbe, 0xad, 0xde}},
      {L"b", platform::kRegBinary, L"", {0, 1, 0xab}}, {L"e", platform::kRegExpandSz, L"%A%", {}},
      {L"two\nlines", kRegSz, L"", {}}, {L"nl", kRegSz, L"a\nb", {}},
      {L"long", platform::kRegBinary, L"", std::vector<std::uint8_t>(30, 0x11)}};
  for (const auto& [name, type, text, bytes] : values)
    file.sections[0].values.push_back({0, name, false, type, false, text, bytes});
  std::vector<regfile::Error> errors;
  EXPECT_EQ(regfile::ToText(file, &errors),
            L"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\A]\n@=\"say \\\"hi\\\" \\\\\"\n\"n\"=dword:deadbeef\n"
            L"\"b\"=hex:00,01,ab\n\"e\"=hex(2):25,00,41,00,25,00,00,00\n\"nl\"=hex(1):61,0a,62,00\n"
            L"\"long\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\n"
            L"  11,11,11,11,11,11,11,11\n");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].message.find(L"line break"), std::wstring::npos);
  const struct { const wchar_t* given; bool ok; const wchar_t* path; } keys[] = {
      {L"", true, L""}, {L"Software\\X", true, L"Software\\X"}, {L"HKEY_LOCAL_MACHINE\\Software\\X\\", true, L"Software\\X"},
      {L"hklm\\Software", true, L"Software"}, {L"HKEY_LOCAL_MACHINE", true, L""},
      {L"HKEY_CURRENT_USER\\Software", false, L""}, {L"HKCU", false, L""}, {L"hkcr\\x", false, L""}, {L"HKU", false, L""},
      {L"HKCC", false, L""}};
  for (const auto& c : keys) {
    std::wstring path;
    EXPECT_EQ(regfile::KeyBelowRoot(c.given, &path), c.ok) << text::ToUtf8(c.given);
    EXPECT_EQ(c.ok ? path : L"", c.path) << text::ToUtf8(c.given);
  }
}

}  // namespace
