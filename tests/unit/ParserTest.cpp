// The statement loop, dispatch, IF statements, assignments and the command
// handlers' parsing, checked through the instructions they emit and the
// messages they show.
#include <gtest/gtest.h>

#include "Doubles.h"
#include "parser/CVSLParser.h"

namespace {

class ParserTest : public ::testing::Test {
 protected:
  ParserTest() : scope_(Pieces()) {}

  platform::Platform Pieces() {
    platform::Platform p;
    p.ui = &ui;
    return p;
  }

  void Parse(const std::wstring& source) {
    parser.Tokenizer().OpenText(source);
    parser.Start();
  }

  // "OP_NAME a|b|c|d" for every emitted instruction.
  std::vector<std::wstring> Insts() const {
    std::vector<std::wstring> out;
    const CCodeGen& code = parser.CodeGen();
    for (int i = 0; i < code.InstCount(); ++i) {
      const Instruction& in = code.At(i);
      std::string name = OPCODES::OpcodeName(in.lOpCode);
      out.push_back(std::wstring(name.begin(), name.end()) + L" " + in.Param1 + L"|" + in.Param2 + L"|" +
                    in.Param3 + L"|" + in.Param4);
    }
    return out;
  }

  FakeUi ui;
  platform::ScopedPlatform scope_;
  CVSLParser parser;
};

using Lines = std::vector<std::wstring>;
const wchar_t* const kTitle = L"Varnel Script Language: ";

TEST_F(ParserTest, CommandsEmitTheirOpcodeAndParameters) {
  Parse(L"DelFile \"a.txt\"\n"
        L"Copy \"s\", \"t\"\n"
        L"RegWriteString \"Software\\A\", \"v\", \"data\"\n"
        L"RegWriteValue \"K\", \"n\", \"-12\"\n"
        L"Run \"prog\", \"/x\"\n"
        L"AskOKDlg \"Title\", \"Text\"\n"
        L"Shell \"echo hi\"\n"
        L"RegEXE \"srv.exe\"\n"
        L"GetTempWorkDir\n"
        L"Exit\n");
  EXPECT_EQ(Insts(), (Lines{L"OP_DELFILE a.txt|||", L"OP_COPY s|t||", L"OP_REGWRITESTRING Software\\A|v|data|",
                            L"OP_REGWRITEVALUE K|n|-12|", L"OP_RUN prog|/x||", L"OP_ASKOKDLG Title|Text||",
                            L"OP_SHELLCMD echo hi|||", L"OP_REGEXE srv.exe|||", L"OP_GETTEMPWORKDIR |||",
                            L"OP_EXIT |||"}));
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_EQ(parser.ParseErrorCount(), 0);
}

TEST_F(ParserTest, ParseErrorsNameTheLineAndParsingGoesOn) {
  Parse(L"MsgBox \"one\"\nDelFile 12\nCopy \"a\" \"b\"\nDelComDLL x\nRegDelString \"k\" \"v\"\n"
        L"IsFileWritable 3\nMsgBox \"two\"");
  EXPECT_EQ(ui.shown, (Lines{std::wstring(kTitle) + L"Line 2: Expecting string parameter",
                             std::wstring(kTitle) + L"Line 3: Expecting , after parameter",
                             std::wstring(kTitle) + L"Line 4: expecting string parameter",
                             std::wstring(kTitle) + L"Line 5: Expecting , ",
                             std::wstring(kTitle) + L"Line 6: Expecting File name as string parameter"}));
  // Each offending token is consumed by its error, so the second string of
  // Copy and the bare word after DelComDLL start no statement of their own.
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX one|||", L"OP_MSGBOX two|||"}));
  EXPECT_EQ(parser.ParseErrorCount(), 5);
}

TEST_F(ParserTest, ACommandAtTheEndOfTheScriptReportsTheLastLine) {
  Parse(L"MsgBox \"x\"\nDelFile\n");
  EXPECT_EQ(ui.shown, (Lines{std::wstring(kTitle) + L"Line 2: Expecting string parameter"}));
}

TEST_F(ParserTest, KeywordsInOtherCaseAndHandlerlessKeywordsDoNothing) {
  Parse(L"delfile \"a\"\nUnregDLLDir \"b\", \"c\"\nChkDelDir\nDelFile \"d\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_DELFILE d|||"}));
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ParserTest, StrayEndifAndElseAtTheTopLevelArePassedOver) {
  Parse(L"ENDIF\nMsgBox \"a\"\nELSE\nMsgBox \"b\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX a|||", L"OP_MSGBOX b|||"}));
}

TEST_F(ParserTest, AFailedAssignmentAtTheTopLevelEndsTheParse) {
  Parse(L"MsgBox \"a\"\nMsgBox \"b\"\nx \"oops\"\nMsgBox \"never\"");
  EXPECT_EQ(ui.shown, (Lines{std::wstring(kTitle) + L"Line 3: Expecting ="}));
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX a|||", L"OP_MSGBOX b|||"}));
}

TEST_F(ParserTest, AShellStatementWithoutItsStringEndsTheParse) {
  Parse(L"RegDLL word\nMsgBox \"a\"\nShell word\nMsgBox \"never\"");
  EXPECT_EQ(ui.shown, (Lines{std::wstring(kTitle) + L"Line 1: Expecting string parameter",
                             std::wstring(kTitle) + L"Line 3: Expecting string parameter"}));
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX a|||"}));
}

TEST_F(ParserTest, AssignmentsStoreExpandedValues) {
  Parse(L"a = \"x\"\nb = $(a)\na = \"y\"\nc = \"$(a)-$(b)-$(none)\"\nMsgBox \"$(c)\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX y-x-|||"}));
  EXPECT_EQ(parser.Macros().GetString(L"b"), L"x");
}

TEST_F(ParserTest, ArgumentsAreExpandedWhenParsed) {
  Parse(L"p = \"one\"\nDelFile \"$(p).txt\"\np = \"two\"\nDelFile \"$(p)-$(P).txt\"\nDelFile \"[$(P)]\"");
  // The first reference is looked up as written and replaced in every
  // letter case; a name that no macro has expands to nothing.
  EXPECT_EQ(Insts(), (Lines{L"OP_DELFILE one.txt|||", L"OP_DELFILE two-two.txt|||", L"OP_DELFILE []|||"}));
}

TEST_F(ParserTest, ConditionsChooseTheBlock) {
  Parse(L"a = \"True\"\n"
        L"IF ($(a) == \"True\") THEN\n MsgBox \"t1\"\nELSE\n MsgBox \"e1\"\nENDIF\n"
        L"IF ($(a) == \"true\") THEN\n MsgBox \"t2\"\nELSE\n MsgBox \"e2\"\nENDIF\n"
        L"IF ($(a) != $(b)) THEN\n MsgBox \"t3\"\nENDIF\n"
        // Without an operator the comparison is true for an empty macro. It
        // takes ")" as its operator, so THEN closes the condition and the
        // part's first token is the one passed over.
        L"IF ($(b)) THEN\n MsgBox \"skipped\" MsgBox \"t4\"\nENDIF\n"
        L"IF ($(a)) THEN\n MsgBox \"skipped\" MsgBox \"t5\"\nENDIF\n");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX t1|||", L"OP_MSGBOX e2|||", L"OP_MSGBOX t3|||", L"OP_MSGBOX t4|||"}));
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ParserTest, ComparisonsCombineLeftToRightWithoutPrecedence) {
  // a or b and c with a True and c False is False.
  Parse(L"t = \"1\"\nf = \"0\"\n"
        L"IF ($(t) == \"1\" OR $(f) == \"1\" AND $(f) == \"1\") THEN MsgBox \"yes\" ELSE MsgBox \"no\" ENDIF\n"
        L"IF ($(f) == \"1\" AND $(t) == \"1\" || $(t) == \"1\") THEN MsgBox \"yes2\" ENDIF\n");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX no|||", L"OP_MSGBOX yes2|||"}));
}

TEST_F(ParserTest, ConditionLiteralsAreNotExpandedButAssignedOnesAre) {
  Parse(L"x = \"$(y)\"\ny = \"v\"\nz = \"$(y)\"\n"
        L"IF ($(z) == \"$(y)\") THEN MsgBox \"expanded\" ELSE MsgBox \"as written\" ENDIF\n"
        L"q = \"\"\"v\"\"\"\n"
        L"IF ($(z) == \"\"\"v\"\"\") THEN MsgBox \"quotes dropped\" ENDIF\n"
        L"IF ($(q) == \"\"\"v\"\"\") THEN MsgBox \"never\" ENDIF\n");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX as written|||", L"OP_MSGBOX quotes dropped|||"}));
}

TEST_F(ParserTest, PartsNotTakenEmitNothingButStillReportErrors) {
  Parse(L"IF ($(a) == \"x\") THEN\n"
        L"  m = \"changed\"\n"
        L"  IF ($(a) == \"\") THEN MsgBox \"inner then\" ELSE MsgBox \"inner else\" ENDIF\n"
        L"  Copy \"a\" \"b\"\n"
        L"  IF (x) THEN ENDIF\n"
        L"ENDIF\nMsgBox \"after $(m)\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX after |||"}));
  EXPECT_EQ(ui.shown, (Lines{std::wstring(kTitle) + L"Line 4: Expecting , after parameter",
                             std::wstring(kTitle) + L"Line 5: Expecting a macro"}));
}

TEST_F(ParserTest, ASecondElseClosesTheIf) {
  Parse(L"IF ($(a) == \"\") THEN MsgBox \"1\" ELSE MsgBox \"2\" ELSE MsgBox \"3\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX 1|||", L"OP_MSGBOX 3|||"}));
}

TEST_F(ParserTest, ConditionErrors) {
  Parse(L"IF $(a) == \"\" ) THEN MsgBox \"a\" ENDIF\n"
        L"IF ($(a) == word) THEN MsgBox \"b\" ENDIF\n");
  // Without "(" the macro is consumed by that error, so the comparison
  // meets "==" where it wants a macro.
  EXPECT_EQ(ui.shown, (Lines{std::wstring(kTitle) + L"Line 1: Expecting (",
                             std::wstring(kTitle) + L"Line 1: Expecting a macro",
                             std::wstring(kTitle) + L"Line 2: IF rValue problem"}));
}

TEST_F(ParserTest, AFailedAssignmentInsideAPartEndsOnlyThatPart) {
  // The rest of the failing part takes no effect; the IF's other part and
  // the statements after it are parsed as usual.
  Parse(L"IF ($(a) == \"x\") THEN\n"
        L"  bad \"oops\"\n"
        L"  MsgBox \"not taken\"\n"
        L"ELSE\n"
        L"  MsgBox \"else part\"\n"
        L"  broken\n"
        L"  MsgBox \"rest of else\"\n"
        L"ENDIF\n"
        L"MsgBox \"after\"\n"
        L"IF ($(a) == \"\") THEN y ENDIF\nMsgBox \"end\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX else part|||", L"OP_MSGBOX after|||", L"OP_MSGBOX end|||"}));
  EXPECT_EQ(ui.shown, (Lines{std::wstring(kTitle) + L"Line 2: Expecting =",
                             std::wstring(kTitle) + L"Line 7: Expecting =",
                             std::wstring(kTitle) + L"Line 10: Expecting ="}));
}

TEST_F(ParserTest, AnAssignedCommandWithAParseErrorStoresTheEmptyString) {
  Parse(L"m = \"old\"\nm = RegReadString \"k\" \"v\"\nMsgBox \"[$(m)]\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX []|||"}));
}

TEST_F(ParserTest, DialogsRunWhileParsingWhenAssigned) {
  ui.answers = {L"y", L"", L"typed $(ans)"};
  Parse(L"ans = AskYesNoDlg \"Go?\"\nname = AskStringDlg \"Name?\", \"guest\"\n"
        L"again = AskStringDlg \"More?\", \"x\"\nok = AskOKDlg \"T\", \"Hello $(name)\"\n"
        L"shownValue = MsgBox \"hi\"\n"
        L"MsgBox \"$(ans) $(name) $(again) $(ok) $(shownValue)\"");
  EXPECT_EQ(ui.shown, (Lines{L"yesno: Go?", L"ask: Name? [guest]", L"ask: More? [x]", L"ok: T: Hello guest",
                             std::wstring(kTitle) + L"hi"}));
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX True guest typed True True False|||"}));
}

TEST_F(ParserTest, AnOkDialogWithoutATitleCarriesTheApplicationsTitle) {
  Parse(L"ok = AskOKDlg \"\", \"Ready\"");
  EXPECT_EQ(ui.shown, (Lines{L"ok: Varnel Script Language: Ready"}));
}

TEST_F(ParserTest, DialogsInPartsNotTakenShowNothing) {
  Parse(L"IF ($(a) == \"x\") THEN v = AskYesNoDlg \"Q\" ENDIF\nMsgBox \"[$(v)]\"");
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX []|||"}));
}

TEST_F(ParserTest, ExitWhileParsingEndsTheProgram) {
  try {
    Parse(L"DelFile 1\nx = Exit\nMsgBox \"never\"");
    FAIL() << "Exit did not end the program";
  } catch (const ProgramExit& e) {
    EXPECT_EQ(e.Status(), 2);  // a parse error had been reported
  }
  EXPECT_EQ(Insts(), Lines{});
}

TEST_F(ParserTest, ExitAsAStatementIsEmittedAndLeavesTheFollowingString) {
  Parse(L"Exit \"text\"\nMsgBox \"after\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_EXIT |||", L"OP_MSGBOX after|||"}));
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ParserTest, RegWriteValueConvertsItsNumberOnlyWhenTakingEffect) {
  Parse(L"IF ($(a) == \"x\") THEN RegWriteValue \"k\", \"v\", \"abc\" ENDIF\nMsgBox \"still parsing\"");
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX still parsing|||"}));
  EXPECT_THROW(Parse(L"RegWriteValue \"k\", \"v\", \"12x\""), VslError);
}

TEST_F(ParserTest, ACheckReportsErrorsAndRunsNothing) {
  std::vector<std::wstring> reports;
  parser.SetRunAtParseTime(false);
  parser.SetErrorSink([&](int line, const std::wstring& m) { reports.push_back(std::to_wstring(line) + m); });
  Parse(L"v = AskYesNoDlg \"Q\"\nMsgBox \"[$(v)]\"\nw = Exit\nDelFile 3\nRegWriteValue \"k\", \"v\", \"x\"\n");
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX []|||"}));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], L"4: Expecting string parameter");
  EXPECT_NE(reports[1].find(L"\"x\""), std::wstring::npos);
}

TEST_F(ParserTest, DeepNestingIsAParseErrorNotACrash) {
  std::wstring deep;
  const int levels = CVSLParser::kMaxIfDepth + 50;
  for (int i = 0; i < levels; ++i) deep += L"IF ($(a) == \"\") THEN\n";
  deep += L"MsgBox \"deep\"\n";
  for (int i = 0; i < levels; ++i) deep += L"ENDIF\n";
  deep += L"MsgBox \"after\"";
  Parse(deep);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_NE(ui.shown[0].find(L"nested"), std::wstring::npos);
  EXPECT_EQ(Insts(), (Lines{L"OP_MSGBOX after|||"}));
}

TEST_F(ParserTest, ManyInstructionsKeepTheirOrder) {
  std::wstring src;
  for (int i = 0; i < 1203; ++i) src += L"MsgBox \"" + std::to_wstring(i) + L"\"\n";
  Parse(src);
  const CCodeGen& code = parser.CodeGen();
  ASSERT_EQ(code.InstCount(), 1203);
  EXPECT_EQ(code.UpperBound(), 1500);
  for (int i = 0; i < 1203; i += 97) EXPECT_EQ(code.At(i).Param1, std::to_wstring(i));
}

}  // namespace
