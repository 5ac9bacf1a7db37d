// Source to instructions and messages: commands, assignments run while parsing, IF blocks, parse errors.
#include "Doubles.h"
#include "parser/CVSLParser.h"

namespace {

// The instructions ("NAME p1|p2", without OP_ and trailing empty parameters) and the dialogs shown ("!" for the
// application's title), "; " between them.
struct Parsed { std::wstring insts, shown; };

Parsed Parse(const std::wstring& source, bool check = false) {
  FakeUi ui;
  ui.answers = {L"typed $(ans)"};
  platform::ScopedPlatform scope(platform::Platform{.ui = &ui});
  CVSLParser parser;
  Parsed out;
  parser.SetRunAtParseTime(!check);
  if (check) parser.SetErrorSink([&](int line, const std::wstring& m) { out.shown += std::to_wstring(line) + m + L"; "; });
  parser.Tokenizer().OpenText(source);
  parser.Start();
  for (int i = 0; i < parser.CodeGen().InstCount(); ++i) {
    const Instruction& in = parser.CodeGen().At(i);
    std::wstring params = in.Param1 + L"|" + in.Param2 + L"|" + in.Param3 + L"|" + in.Param4;
    while (params.ends_with(L"|")) params.pop_back();
    out.insts += (i ? L"; " : L"") + text::FromUtf8(OPCODES::OpcodeName(in.lOpCode)).substr(3) + L" " + params;
  }
  for (const std::wstring& s : ui.shown)
    out.shown += (s.starts_with(L"Varnel Script Language: ") ? L"!" + s.substr(24) : s) + L"; ";
  return out;
}

TEST(Parser, SourceToInstructionsAndMessages) {
  const struct { std::wstring source, insts, shown; } cases[] = {
      {L"MsgBox \"x\"\nDelFile\n", L"MSGBOX x", L"!Line 2: Expecting string parameter; "},
      // Keywords in another case or without a handler do nothing; so do ENDIF and ELSE outside an IF.
      {L"delfile \"a\"\nUnregDLLDir \"b\", \"c\"\nChkDelDir\nENDIF\nDelFile \"d\"\nELSE\nMsgBox \"b\"",
       L"DELFILE d; MSGBOX b", L""},
      // A Shell statement without its string ends the parse.
      {L"RegDLL word\nMsgBox \"a\"\nShell word\nMsgBox \"never\"", L"MSGBOX a",
       L"!Line 1: Expecting string parameter; !Line 3: Expecting string parameter; "},
      // Values and arguments are expanded when parsed (the first reference as written, in every case).
      {L"a = \"x\"\nb = $(a)\na = \"y\"\nc = \"$(a)-$(b)-$(none)\"\nMsgBox \"$(c)\"", L"MSGBOX y-x-", L""},
      {L"p = \"one\"\nDelFile \"$(p).txt\"\np = \"two\"\nDelFile \"$(p)-$(P).txt\"\nDelFile \"[$(P)]\"",
       L"DELFILE one.txt; DELFILE two-two.txt; DELFILE []", L""},
      // Without an operator a comparison is true for an empty macro and eats the part's first token as operator.
      {L"a = \"True\"\nIF ($(a) == \"True\") THEN MsgBox \"t1\" ELSE MsgBox \"e1\" ENDIF\n"
       L"IF ($(a) == \"true\") THEN MsgBox \"t2\" ELSE MsgBox \"e2\" ENDIF\nIF ($(a) != $(b)) THEN MsgBox \"t3\" ENDIF\n"
       L"IF ($(b)) THEN MsgBox \"skipped\" MsgBox \"t4\" ENDIF\nIF ($(a)) THEN MsgBox \"x\" MsgBox \"t5\" ENDIF\n",
       L"MSGBOX t1; MSGBOX e2; MSGBOX t3; MSGBOX t4", L""},
      // AND and OR combine left to right without precedence.
      {L"t = \"1\"\nf = \"0\"\nIF ($(t) == \"1\" OR $(f) == \"1\" AND $(f) == \"1\") THEN MsgBox \"yes\" ELSE MsgBox \"no\" ENDIF\n"
       L"IF ($(f) == \"1\" AND $(t) == \"1\" || $(t) == \"1\") THEN MsgBox \"yes2\" ENDIF\n",
       L"MSGBOX no; MSGBOX yes2", L""},
      // Literals in a condition are not expanded, assigned ones are.
      {L"x = \"$(y)\"\ny = \"v\"\nz = \"$(y)\"\nIF ($(z) == \"$(y)\") THEN MsgBox \"expanded\" ELSE MsgBox \"as written\" "
       L"ENDIF\nq = \"\"\"v\"\"\"\nIF ($(z) == \"\"\"v\"\"\") THEN MsgBox \"quotes dropped\" ENDIF\n"
       L"IF ($(q) == \"\"\"v\"\"\") THEN MsgBox \"never\" ENDIF\n",
       L"MSGBOX as written; MSGBOX quotes dropped", L""},
      // Parts not taken emit and assign nothing but still report errors.
      {L"IF ($(a) == \"x\") THEN\n  m = \"changed\"\n"
       L"  IF ($(a) == \"\") THEN MsgBox \"inner then\" ELSE MsgBox \"inner else\" ENDIF\n"
       L"  Copy \"a\" \"b\"\n  IF (x) THEN ENDIF\nENDIF\nMsgBox \"after $(m)\"",
       L"MSGBOX after ", L"!Line 4: Expecting , after parameter; !Line 5: Expecting a macro; "},
      {L"IF $(a) == \"\" ) THEN MsgBox \"a\" ENDIF\nIF ($(a) == word) THEN MsgBox \"b\" ENDIF\n", L"",
       L"!Line 1: Expecting (; !Line 1: Expecting a macro; !Line 2: IF rValue problem; "},
      // A failed assignment in a part ends only that part.
      {L"IF ($(a) == \"x\") THEN\n  bad \"oops\"\n  MsgBox \"not taken\" worse\nELSE\n  MsgBox \"else part\"\n  broken\n"
       L"  MsgBox \"rest of else\"\nENDIF\nMsgBox \"after\"\nIF ($(a) == \"\") THEN y ENDIF\nMsgBox \"end\"",
       L"MSGBOX else part; MSGBOX after; MSGBOX end",
       L"!Line 2: Expecting =; !Line 4: Expecting =; !Line 7: Expecting =; !Line 10: Expecting =; "},
      // The token a failed assignment stopped at may be the part's ELSE or the end of the input.
      {L"IF ($(a) == \"\") THEN\n  MsgBox \"then\"\n  x\nELSE\n  MsgBox \"else\"\nENDIF\nMsgBox \"after\"\n"
       L"IF ($(a) == \"\") THEN MsgBox \"last\" y",
       L"MSGBOX then; MSGBOX after; MSGBOX last", L"!Line 4: Expecting =; !Line 8: Expecting =; "},
      {L"m = \"old\"\nm = RegReadString \"k\" \"v\"\nMsgBox \"[$(m)]\"", L"MSGBOX []", L"!Line 2: Expecting , after parameter; "},
      // Dialogs run while parsing when assigned; answers are stored expanded.
      {L"a = AskStringDlg \"More?\", \"x\"\nb = AskStringDlg \"Q\", \"$(a)\"\nok = AskOKDlg \"\", \"Ready\"\n"
       L"shownValue = MsgBox \"hi\"\nMsgBox \"$(a) $(b) $(ok) $(shownValue)\"",
       L"MSGBOX typed  typed  True False", L"ask: More? [x]; ask: Q [typed ]; ok: Varnel Script Language: Ready; !hi; "},
  };
  for (const auto& c : cases) {
    const Parsed got = Parse(c.source);
    EXPECT_EQ(got.insts, c.insts) << text::ToUtf8(c.source);
    EXPECT_EQ(got.shown, c.shown) << text::ToUtf8(c.source);
  }
}

TEST(Parser, ACheckReportsErrorsAndRunsNothing) {
  const Parsed got = Parse(L"v = AskYesNoDlg \"Q\"\nMsgBox \"[$(v)]\"\nw = Exit\nDelFile 3\n"
                           L"RegWriteValue \"k\", \"v\", \"x\"\n", true);
  EXPECT_EQ(got.insts, L"MSGBOX []");
  EXPECT_EQ(got.shown, L"4: Expecting string parameter; 5: Cannot convert \"x\" to a number: it is not a signed "
                       L"32-bit decimal number; ");
}

TEST(Parser, DeepNestingIsAnErrorNotACrash) {
  const int levels = CVSLParser::kMaxIfDepth + 50;
  std::wstring deep;
  for (int i = 0; i < levels; ++i) deep += L"IF ($(a) == \"\") THEN\n";
  deep += L"MsgBox \"deep\"\n";
  for (int i = 0; i < levels; ++i) deep += L"ENDIF\n";
  const Parsed got = Parse(deep + L"MsgBox \"after\"");
  EXPECT_EQ(got.insts, L"MSGBOX after");
  EXPECT_NE(got.shown.find(L"nested"), std::wstring::npos);
  EXPECT_EQ(got.shown.find(L";"), got.shown.size() - 2) << "one message only";
}

}  // namespace
