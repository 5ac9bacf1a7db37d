#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Platform.h"
#include "tokenizer/CTokenizer.h"
#include "tokenizer/Tokens.h"

namespace {

struct Tok {
  std::int32_t kind;
  std::wstring text;
  std::int32_t line;
  bool operator==(const Tok&) const = default;
};

void PrintTo(const Tok& t, std::ostream* os) {
  std::string narrow;
  for (wchar_t c : t.text) narrow.push_back(c < 128 ? static_cast<char>(c) : '?');
  *os << "{" << t.kind << ", \"" << narrow << "\", line " << t.line << "}";
}

// Every token up to and including the first TK_EOF.
std::vector<Tok> Lex(const std::wstring& source) {
  CTokenizer tk;
  tk.OpenText(source);
  std::vector<Tok> out;
  for (;;) {
    const std::int32_t kind = tk.NextToken();
    out.push_back({kind, tk.TokenText(), tk.TokenLine()});
    if (kind == TK_EOF) return out;
  }
}

std::vector<std::int32_t> Kinds(const std::wstring& source) {
  std::vector<std::int32_t> kinds;
  for (const Tok& t : Lex(source)) kinds.push_back(t.kind);
  return kinds;
}

}  // namespace

TEST(Tokenizer, ExampleInstallScript) {
  const std::wstring script =
      L"# install.vsl\n"
      L"tmp = GetTempWorkDir\n"
      L"md \"$(tmp)\"\n"
      L"ok = AskYesNoDlg \"Install the sample files?\"\n"
      L"IF ($(ok) == \"True\" && $(tmp) != \"\") THEN\n"
      L"    XCopy \"Z:\\srv\\samples\", \"$(tmp)\"\n"
      L"    RegWriteString \"Software\\Sample\", \"Path\", \"$(tmp)\"\n"
      L"ELSE\n"
      L"    MsgBox \"Nothing was installed.\"\n"
      L"ENDIF\n"
      L"WriteFile \"$(tmp)\\install.log\", \"done\"\n"
      L"Shell \"echo finished\"\n";
  const std::vector<Tok> expected = {
      {TK_IDENTIFIER, L"tmp", 2},
      {TK_ASSIGN, L"=", 2},
      {TK_KEYWORD, L"GetTempWorkDir", 2},
      {TK_KEYWORD, L"md", 3},
      {TK_STRING, L"$(tmp)", 3},
      {TK_IDENTIFIER, L"ok", 4},
      {TK_ASSIGN, L"=", 4},
      {TK_KEYWORD, L"AskYesNoDlg", 4},
      {TK_STRING, L"Install the sample files?", 4},
      {TK_IF, L"IF", 5},
      {TK_LPAREN, L"(", 5},
      {TK_MACRO, L"$(ok)", 5},
      {TK_EQUAL, L"==", 5},
      {TK_STRING, L"True", 5},
      {TK_AND, L"&&", 5},
      {TK_MACRO, L"$(tmp)", 5},
      {TK_NOTEQUAL, L"!=", 5},
      {TK_STRING, L"", 5},
      {TK_RPAREN, L")", 5},
      {TK_THEN, L"THEN", 5},
      {TK_KEYWORD, L"XCopy", 6},
      {TK_STRING, L"Z:\\srv\\samples", 6},
      {TK_COMMA, L",", 6},
      {TK_STRING, L"$(tmp)", 6},
      {TK_KEYWORD, L"RegWriteString", 7},
      {TK_STRING, L"Software\\Sample", 7},
      {TK_COMMA, L",", 7},
      {TK_STRING, L"Path", 7},
      {TK_COMMA, L",", 7},
      {TK_STRING, L"$(tmp)", 7},
      {TK_ELSE, L"ELSE", 8},
      {TK_KEYWORD, L"MsgBox", 9},
      {TK_STRING, L"Nothing was installed.", 9},
      {TK_ENDIF, L"ENDIF", 10},
      {TK_KEYWORD, L"WriteFile", 11},
      {TK_STRING, L"$(tmp)\\install.log", 11},
      {TK_COMMA, L",", 11},
      {TK_STRING, L"done", 11},
      {TK_SHELLCMD, L"Shell", 12},
      {TK_STRING, L"echo finished", 12},
      {TK_EOF, L"", 12},
  };
  EXPECT_EQ(Lex(script), expected);
}

TEST(Tokenizer, StringsUndoubleQuotesAndKeepBackslashes) {
  EXPECT_EQ(Lex(L"\"\"\"C:\\Program Files\\a.exe\"\"\"")[0],
            (Tok{TK_STRING, L"\"C:\\Program Files\\a.exe\"", 1}));
  EXPECT_EQ(Lex(L"\"a\"\"b\"")[0], (Tok{TK_STRING, L"a\"b", 1}));
  EXPECT_EQ(Lex(L"\"a\\\"")[0], (Tok{TK_STRING, L"a\\", 1}));
  // A comment mark and macro marks inside a string are plain text.
  EXPECT_EQ(Lex(L"\"# $( x\" y"), (std::vector<Tok>{{TK_STRING, L"# $( x", 1}, {TK_IDENTIFIER, L"y", 1},
                                                     {TK_EOF, L"", 1}}));
  // Two strings side by side are two tokens.
  EXPECT_EQ(Kinds(L"\"a\"\"\" \"b\""), (std::vector<std::int32_t>{TK_STRING, TK_STRING, TK_EOF}));
}

TEST(Tokenizer, UnclosedStringIsOneErrorToEndOfLine) {
  EXPECT_EQ(Lex(L"md \"abc, x\nDelFile \"y\""),
            (std::vector<Tok>{{TK_KEYWORD, L"md", 1},
                              {TK_ERROR, L"\"abc, x", 1},
                              {TK_KEYWORD, L"DelFile", 2},
                              {TK_STRING, L"y", 2},
                              {TK_EOF, L"", 2}}));
  // A doubled quote at the end of the line does not close the string.
  EXPECT_EQ(Lex(L"\"ab\"\"\r\nx")[0], (Tok{TK_ERROR, L"\"ab\"\"", 1}));
  EXPECT_EQ(Lex(L"\"")[0], (Tok{TK_ERROR, L"\"", 1}));
}

TEST(Tokenizer, MacroReferences) {
  EXPECT_EQ(Lex(L"$(a b)c")[0], (Tok{TK_MACRO, L"$(a b)", 1}));
  EXPECT_EQ(Lex(L"$()")[0], (Tok{TK_MACRO, L"$()", 1}));
  // The first ')' closes it, even after a second "$(".
  EXPECT_EQ(Lex(L"$(A$(B))"), (std::vector<Tok>{{TK_MACRO, L"$(A$(B)", 1}, {TK_RPAREN, L")", 1},
                                                {TK_EOF, L"", 1}}));
  // A '#' inside a reference is part of it.
  EXPECT_EQ(Lex(L"$(a#b)")[0], (Tok{TK_MACRO, L"$(a#b)", 1}));
  // No ')' on the line: one error token to the end of the line.
  EXPECT_EQ(Lex(L"$(abc x\n)"), (std::vector<Tok>{{TK_ERROR, L"$(abc x", 1}, {TK_RPAREN, L")", 2},
                                                  {TK_EOF, L"", 2}}));
  EXPECT_EQ(Lex(L"$x"), (std::vector<Tok>{{TK_ERROR, L"$", 1}, {TK_IDENTIFIER, L"x", 1}, {TK_EOF, L"", 1}}));
  EXPECT_EQ(Lex(L"$")[0], (Tok{TK_ERROR, L"$", 1}));
}

TEST(Tokenizer, Operators) {
  EXPECT_EQ(Kinds(L"( ) , == != = && || ==="),
            (std::vector<std::int32_t>{TK_LPAREN, TK_RPAREN, TK_COMMA, TK_EQUAL, TK_NOTEQUAL, TK_ASSIGN, TK_AND,
                                       TK_OR, TK_EQUAL, TK_ASSIGN, TK_EOF}));
  EXPECT_EQ(Lex(L"a==b")[1], (Tok{TK_EQUAL, L"==", 1}));
  EXPECT_EQ(Lex(L"! & | &|"), (std::vector<Tok>{{TK_ERROR, L"!", 1},
                                                {TK_ERROR, L"&", 1},
                                                {TK_ERROR, L"|", 1},
                                                {TK_ERROR, L"&", 1},
                                                {TK_ERROR, L"|", 1},
                                                {TK_EOF, L"", 1}}));
}

TEST(Tokenizer, WordsInAnyCase) {
  EXPECT_EQ(Kinds(L"if Then eLSe endIF and Or SHELL"),
            (std::vector<std::int32_t>{TK_IF, TK_THEN, TK_ELSE, TK_ENDIF, TK_AND, TK_OR, TK_SHELLCMD, TK_EOF}));
  // Keywords keep their text as written.
  EXPECT_EQ(Lex(L"delfile")[0], (Tok{TK_KEYWORD, L"delfile", 1}));
  // The first and the last two entries of the keyword table.
  EXPECT_EQ(Kinds(L"exit ISFILEWRITABLE UnregDLLDir chkdeldir RD"),
            (std::vector<std::int32_t>{TK_KEYWORD, TK_KEYWORD, TK_KEYWORD, TK_KEYWORD, TK_KEYWORD, TK_EOF}));
  // Words that only begin or end like a keyword are identifiers.
  EXPECT_EQ(Kinds(L"IFX Copy2 _md md_ xCopyy"),
            (std::vector<std::int32_t>{TK_IDENTIFIER, TK_IDENTIFIER, TK_IDENTIFIER, TK_IDENTIFIER, TK_IDENTIFIER,
                                       TK_EOF}));
  EXPECT_EQ(Lex(L"_a1_B2")[0], (Tok{TK_IDENTIFIER, L"_a1_B2", 1}));
}

TEST(Tokenizer, NumbersAndStrayCharacters) {
  EXPECT_EQ(Lex(L"0042 7x"), (std::vector<Tok>{{TK_NUMBER, L"0042", 1},
                                               {TK_NUMBER, L"7", 1},
                                               {TK_IDENTIFIER, L"x", 1},
                                               {TK_EOF, L"", 1}}));
  EXPECT_EQ(Lex(L"-5")[0], (Tok{TK_ERROR, L"-", 1}));
  EXPECT_EQ(Lex(L"\u00e9t\u00e9"), (std::vector<Tok>{{TK_ERROR, L"\u00e9", 1},
                                                      {TK_IDENTIFIER, L"t", 1},
                                                      {TK_ERROR, L"\u00e9", 1},
                                                      {TK_EOF, L"", 1}}));
  // A vertical tab is no white space.
  EXPECT_EQ(Lex(L"a\vb")[1], (Tok{TK_ERROR, L"\v", 1}));
  // Non-ASCII text inside a string is kept.
  EXPECT_EQ(Lex(L"\"\u00e9\u20ac\"")[0], (Tok{TK_STRING, L"\u00e9\u20ac", 1}));
}

TEST(Tokenizer, CommentsRunToTheEndOfTheLine) {
  EXPECT_EQ(Lex(L"a # b \"c\n# whole line\r\nd#e\r#"),
            (std::vector<Tok>{{TK_IDENTIFIER, L"a", 1}, {TK_IDENTIFIER, L"d", 3}, {TK_EOF, L"", 4}}));
}

TEST(Tokenizer, LineNumbersWithEveryLineEnd) {
  EXPECT_EQ(Lex(L"a\nb\r\nc\rd\n\ne\r\r\nf\t\fg"),
            (std::vector<Tok>{{TK_IDENTIFIER, L"a", 1},
                              {TK_IDENTIFIER, L"b", 2},
                              {TK_IDENTIFIER, L"c", 3},
                              {TK_IDENTIFIER, L"d", 4},
                              {TK_IDENTIFIER, L"e", 6},
                              {TK_IDENTIFIER, L"f", 8},
                              {TK_IDENTIFIER, L"g", 8},
                              {TK_EOF, L"", 8}}));
}

TEST(Tokenizer, EndOfFileLine) {
  EXPECT_EQ(Lex(L"").back().line, 1);
  EXPECT_EQ(Lex(L"a\n").back().line, 1);
  EXPECT_EQ(Lex(L"a\nb").back().line, 2);
  EXPECT_EQ(Lex(L"a\n\n").back().line, 2);
  EXPECT_EQ(Lex(L"a\r\n\r\n").back().line, 2);
  EXPECT_EQ(Lex(L"a\r\r").back().line, 2);
  EXPECT_EQ(Lex(L"\n").back().line, 1);
  EXPECT_EQ(Lex(L"a\n\n  ").back().line, 3);
  EXPECT_EQ(Lex(L"a\n# c").back().line, 2);
}

TEST(Tokenizer, EndOfFileForever) {
  CTokenizer tk;
  tk.OpenText(L"x");
  EXPECT_EQ(tk.NextToken(), TK_IDENTIFIER);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(tk.NextToken(), TK_EOF);
    EXPECT_EQ(tk.TokenText(), L"");
    EXPECT_EQ(tk.TokenLine(), 1);
  }
  // TokenText is repeatable, and a new text starts afresh.
  tk.OpenText(L"\n\"s\"");
  EXPECT_EQ(tk.NextToken(), TK_STRING);
  EXPECT_EQ(tk.TokenText(), L"s");
  EXPECT_EQ(tk.TokenText(), L"s");
  EXPECT_EQ(tk.TokenLine(), 2);
}

namespace {

// A file system that knows one text file; reading anything else fails.
class OneFileSystem : public platform::FileSystem {
 public:
  OneFileSystem(std::wstring name, std::wstring text) : name_(std::move(name)), text_(std::move(text)) {}
  void ChangeDrive(const std::wstring&) override {}
  void ChangeDir(const std::wstring&) override {}
  std::wstring CurrentDir() override { return L"C:\\"; }
  std::vector<platform::FindEntry> Find(const std::wstring&) override { return {}; }
  std::uint32_t GetAttributes(const std::wstring&) override { return 0; }
  void SetAttributes(const std::wstring&, std::uint32_t) override {}
  void CreateDir(const std::wstring&) override {}
  void RemoveDir(const std::wstring&) override {}
  void RemoveFile(const std::wstring&) override {}
  void RemoveMatching(const std::wstring&) override {}
  void CopyWholeFile(const std::wstring&, const std::wstring&) override {}
  std::unique_ptr<platform::File> Open(const std::wstring&, platform::OpenMode) override { return nullptr; }
  std::wstring ReadTextFile(const std::wstring& path) override {
    if (path != name_) throw VslError(L"Cannot open " + path + L": the file does not exist");
    return text_;
  }
  void AppendTextLine(const std::wstring&, const std::wstring&) override {}
  bool SamePlace(const std::wstring&, const std::wstring&) override { return false; }
  bool SameFile(const std::wstring&, const std::wstring&) override { return false; }
  bool CanCreateIn(const std::wstring&) override { return false; }

 private:
  std::wstring name_;
  std::wstring text_;
};

}  // namespace

TEST(TokenizerFile, ReadsTheScriptAsTextNamedWithoutQuotes) {
  OneFileSystem fs(L"C:\\s.vsl", L"MsgBox \"caf\u00e9\"\n");
  platform::Platform p;
  p.fileSystem = &fs;
  platform::ScopedPlatform scoped(p);
  CTokenizer tk;
  tk.OpenFile(L"\"C:\\s.vsl\"");
  EXPECT_EQ(tk.NextToken(), TK_KEYWORD);
  EXPECT_EQ(tk.TokenText(), L"MsgBox");
  EXPECT_EQ(tk.NextToken(), TK_STRING);
  EXPECT_EQ(tk.TokenText(), L"caf\u00e9");
  EXPECT_EQ(tk.NextToken(), TK_EOF);
  EXPECT_EQ(tk.TokenLine(), 1);
}

TEST(TokenizerFile, MissingFileRaisesThePlatformError) {
  OneFileSystem fs(L"C:\\s.vsl", L"");
  platform::Platform p;
  p.fileSystem = &fs;
  platform::ScopedPlatform scoped(p);
  CTokenizer tk;
  try {
    tk.OpenFile(L"C:\\none.vsl");
    FAIL() << "no error";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description(), L"Cannot open C:\\none.vsl: the file does not exist");
  }
}
