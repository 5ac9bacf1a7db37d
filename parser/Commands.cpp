// The command handlers. Each reads its string arguments, expands the macro
// references in them, and then does nothing (a statement that does not take
// effect), appends one instruction, or runs the operation at once and hands
// back its result as a string.
#include "forms/Forms.h"
#include "parser/CVSLParser.h"
#include "utility/Utility.h"

namespace {
const wchar_t* const kNotString = L": Expecting string parameter";
const wchar_t* const kNotStringLower = L": expecting string parameter";
const wchar_t* const kNotFileName = L": Expecting File name as string parameter";
const wchar_t* const kNoComma = L": Expecting , after parameter";
const wchar_t* const kNoCommaShort = L": Expecting , ";
const std::wstring kNone;
}  // namespace

// arguments: TK_STRING { TK_COMMA TK_STRING }, exactly n strings.
bool CVSLParser::ReadArguments(int n, std::wstring* args, const wchar_t* notString, const wchar_t* comma) {
  for (int k = 0; k < n; ++k) {
    if (k > 0 && Next() != TK_COMMA) {
      ReportError(comma);
      return false;
    }
    if (Next() != TK_STRING) {
      ReportError(notString);
      return false;
    }
    args[k] = ExpandMacros(tokenizer_->TokenText());
  }
  return true;
}

std::wstring CVSLParser::Command(bool bExec, bool bExecAtParseTime, std::int32_t lOpCode, int nArgs,
                                 const wchar_t* notString, const wchar_t* comma, bool booleanResult,
                                 const std::function<std::wstring(const Args&)>& run) {
  Args a;
  if (!ReadArguments(nArgs, a.data(), notString, comma)) return L"";
  return TakeEffect(bExec, bExecAtParseTime, lOpCode, a[0], a[1], a[2], [&] { return run(a); }, booleanResult);
}

std::wstring CVSLParser::TakeEffect(bool bExec, bool bExecAtParseTime, std::int32_t lOpCode, const std::wstring& p1,
                                    const std::wstring& p2, const std::wstring& p3, const Operation& runNow,
                                    bool booleanResult) {
  const std::wstring unused = booleanResult ? L"False" : L"";
  if (!bExec) return unused;
  if (bExecAtParseTime) return runAtParseTime_ ? runNow() : std::wstring();
  codegen_->AddInst(lOpCode, p1, p2, p3, L"");
  return unused;
}

// ---- Exit and the value commands -----------------------------------------------

// "Exit" reads no token. Run while parsing it ends the program on the spot.
std::wstring CVSLParser::DoExit(bool bExec, bool bExecAtParseTime) {
  if (!bExec) return L"";
  if (bExecAtParseTime) {
    if (runAtParseTime_) throw ProgramExit(parseErrors_ > 0 ? 2 : 0);
    return L"";
  }
  codegen_->AddInst(OP_EXIT, L"", L"", L"", L"");
  return L"";
}

std::wstring CVSLParser::DoCreateTemp(bool bExec, bool bExecAtParseTime) {
  return TakeEffect(bExec, bExecAtParseTime, OP_GETTEMPWORKDIR, kNone, kNone, kNone,
                    [] { return Utility::CreateTempName(); }, false);
}

std::wstring CVSLParser::DoGetWinDir(const bool& bExec, const bool& bExecAtParseTime) {
  return TakeEffect(bExec, bExecAtParseTime, OP_GETWINDIR, kNone, kNone, kNone,
                    [] { return Utility::GetWinDir(); }, false);
}

// ---- File and directory commands -----------------------------------------------

std::wstring CVSLParser::DoDelFile(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_DELFILE, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::DelFile(a[0])); });
}

// The deletion runs (or is emitted) with the target's drive current, and the
// current drive and directory are restored afterwards.
std::wstring CVSLParser::DoDelDir(bool bExec, bool bExecAtParseTime) {
  std::wstring a[1];
  if (!ReadArguments(1, a, kNotString, kNoComma)) return L"";
  auto run = [&] { return BoolToStr(Utility::DelTree(a[0])); };
  if (!bExec || !runAtParseTime_) return TakeEffect(bExec, bExecAtParseTime, OP_DELDIR, a[0], kNone, kNone, run, true);
  const std::wstring remembered = Utility::CurrentDirectory();
  if (Utility::HasDriveLetter(a[0])) Utility::ChangeDrive(a[0].substr(0, 2));
  std::wstring result = TakeEffect(bExec, bExecAtParseTime, OP_DELDIR, a[0], kNone, kNone, run, true);
  if (Utility::HasDriveLetter(remembered)) Utility::ChangeDrive(remembered.substr(0, 2));
  Utility::ChangeDirectory(remembered);
  return result;
}

std::wstring CVSLParser::DoRd(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_RD, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::RemoveDir(a[0])); });
}

std::wstring CVSLParser::DoCd(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_CD, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::ChangeDir(a[0])); });
}

std::wstring CVSLParser::DoMd(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_MD, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::MakeDir(a[0])); });
}

std::wstring CVSLParser::DoCopy(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_COPY, 2, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::GuardedCopy(a[0], a[1])); });
}

std::wstring CVSLParser::DoXCopy(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_XCOPY, 2, kNotString, kNoComma, true, [](const Args& a) {
    const bool noEvents = false;
    return BoolToStr(Utility::xCopy(a[0], a[1], noEvents));
  });
}

std::wstring CVSLParser::DoIsFileExists(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_ISFILEEXISTS, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::IsFileExists(a[0])); });
}

std::wstring CVSLParser::DoIsDirExists(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_ISDIREXISTS, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::IsDirExists(a[0])); });
}

std::wstring CVSLParser::DoIsFileWritable(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_ISFILEWRITABLE, 1, kNotFileName, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::IsFileWritable(a[0])); });
}

std::wstring CVSLParser::DoWriteFile(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_WRITEFILE, 2, kNotString, kNoComma, false,
                 [](const Args& a) { return Utility::WriteFile(a[0], a[1]); });
}

// ---- Registry commands -----------------------------------------------------------

std::wstring CVSLParser::DoRegReadString(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGREADSTRING, 2, kNotString, kNoComma, false,
                 [](const Args& a) { return Utility::RegReadString(platform::kHKeyLocalMachine, a[0], a[1]); });
}

std::wstring CVSLParser::DoRegReadValue(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGREADVALUE, 2, kNotString, kNoComma, false,
                 [](const Args& a) { return Utility::RegReadValue(platform::kHKeyLocalMachine, a[0], a[1]); });
}

std::wstring CVSLParser::DoRegWriteString(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGWRITESTRING, 3, kNotString, kNoComma, true, [](const Args& a) {
    return BoolToStr(Utility::RegWriteString(platform::kHKeyLocalMachine, a[0], a[1], a[2]));
  });
}

// The number text is converted whenever the statement takes effect, so text
// that is not a number ends the parse whether the command runs or is emitted.
std::wstring CVSLParser::DoRegWriteValue(bool bExec, bool bExecAtParseTime) {
  std::wstring a[3];
  if (!ReadArguments(3, a, kNotString, kNoComma)) return L"";
  std::int32_t number = 0;
  if (bExec) {
    if (runAtParseTime_) {
      number = Utility::ToInt32(a[2]);
    } else {
      // A check reports the text that a run would stop at, and goes on.
      try {
        number = Utility::ToInt32(a[2]);
      } catch (const VslError& e) {
        ReportError(L": " + e.Description());
        return L"";
      }
    }
  }
  return TakeEffect(bExec, bExecAtParseTime, OP_REGWRITEVALUE, a[0], a[1], a[2],
                    [&] { return BoolToStr(Utility::RegWriteValue(platform::kHKeyLocalMachine, a[0], a[1], number)); },
                    true);
}

std::wstring CVSLParser::DoRegDelKey(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGDELKEY, 1, kNotString, kNoComma, false,
                 [](const Args& a) { return Utility::RegDelKeyTree(platform::kHKeyLocalMachine, a[0]); });
}

std::wstring CVSLParser::DoRegDelString(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGDELSTRING, 2, kNotString, kNoCommaShort, false,
                 [](const Args& a) { return Utility::RegDelString(platform::kHKeyLocalMachine, a[0], a[1]); });
}

std::wstring CVSLParser::DoRegCountSubNode(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGCOUNTSUBNODE, 1, kNotString, kNoComma, false,
                 [](const Args& a) { return Utility::RegCountSubNode(platform::kHKeyLocalMachine, a[0]); });
}

std::wstring CVSLParser::DoIsRegKeyExists(const bool& bExec, const bool& bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_ISREGKEYEXISTS, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::IsRegKeyExists(a[0])); });
}

// ---- Component and process commands ------------------------------------------------

std::wstring CVSLParser::DoRegDLL(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGDLL, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::RegDLL(a[0])); });
}

std::wstring CVSLParser::DoUnregDLL(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_UNREGDLL, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::UnregDLL(a[0])); });
}

// Unregisters, then deletes the file, whatever the first step answered.
std::wstring CVSLParser::DoDelComDLL(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_DELCOMDLL, 1, kNotStringLower, kNoComma, true, [](const Args& a) {
    const bool unregistered = Utility::UnregDLL(a[0]);
    const bool deleted = Utility::DelFile(a[0]);
    return BoolToStr(unregistered && deleted);
  });
}

std::wstring CVSLParser::DoRegTLB(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGTLB, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::RegTLB(a[0])); });
}

std::wstring CVSLParser::DoRegEXE(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_REGEXE, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::RegEXE(a[0])); });
}

std::wstring CVSLParser::DoUnregEXE(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_UNREGEXE, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::UnregEXE(a[0])); });
}

std::wstring CVSLParser::DoRun(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_RUN, 2, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::Run(a[0], a[1])); });
}

// command-interpreter statement: TK_SHELLCMD TK_STRING
// Never runs while parsing. Returns 17, or 0 after a parse error, which ends
// the block being parsed.
std::int32_t CVSLParser::DoShellCmd(bool bExec) {
  std::wstring a[1];
  if (!ReadArguments(1, a, kNotString, kNoComma)) return 0;
  if (bExec) codegen_->AddInst(OP_SHELLCMD, a[0], L"", L"", L"");
  return TK_SHELLCMD;
}

// ---- Dialog and message commands -------------------------------------------------

std::wstring CVSLParser::DoMsgBox(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_MSGBOX, 1, kNotString, kNoComma, true, [](const Args& a) {
    Utility::MsgBox(a[0]);
    return BoolToStr(false);
  });
}

std::wstring CVSLParser::DoAskYesNoDlg(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_ASKYESNODLG, 1, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::AskYesNoDlg(a[0])); });
}

std::wstring CVSLParser::DoAskStringDlg(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_ASKSTRINGDLG, 2, kNotString, kNoComma, false,
                 [](const Args& a) { return Utility::AskStringDlg(a[0], a[1]); });
}

std::wstring CVSLParser::DoAskOKDlg(bool bExec, bool bExecAtParseTime) {
  return Command(bExec, bExecAtParseTime, OP_ASKOKDLG, 2, kNotString, kNoComma, true,
                 [](const Args& a) { return BoolToStr(Utility::AskOKDlg(a[0], a[1])); });
}
