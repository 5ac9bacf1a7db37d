// The one command table. Every command of the language is one row; the
// tokenizer's keyword lookup, the parser's dispatch and handlers, and the
// executor's switch are all generated from it, so adding a command is one
// row plus its operation.
//
// VSL_COMMANDS(X, C, N) calls, in the order in which the dispatcher compares
// the keywords:
//
//   X(keyword, handler, opcode, nArgs, notString, comma, result, atParseTime, atRunTime)
//     a command whose handler is generated;
//   C(...same columns...)
//     a command whose handler is written by hand (it does more than read
//     its arguments and take effect); the columns still hold for it;
//   N(keyword)
//     a keyword that is recognised and does nothing: no argument is read,
//     nothing is emitted or run.
//
// The columns:
//   keyword      the word, compared whole and case-sensitively;
//   handler      the parser's handler method;
//   opcode       the instruction the command becomes as a statement;
//   nArgs        how many string arguments it takes, separated by commas;
//   notString    the parse error when an argument is not a string;
//   comma        the parse error when a comma is missing between arguments;
//   result       Bool ("True"/"False") or Text: what a run at parse time
//                returns, and "False" or "" when the statement takes no
//                effect;
//   atParseTime  the operation run when the command is the value of a macro
//                assignment: an expression over the expanded arguments
//                a0, a1, a2 and the parser p, of type bool for Bool and
//                std::wstring for Text;
//   atRunTime    the expression the executor evaluates for the instruction,
//                with a0, a1, a2 standing for Param1 to Param3 (which it may
//                rewrite in place); its value (bool, string or none) is the
//                instruction's result in the install log; EndRun() ends the
//                run.
//
// The expressions are written against the Utility and Dialogs operations
// (unqualified) and are expanded where those names are in scope.
#pragma once

// Parse-error messages of the arguments.
#define VSL_NOT_STRING L": Expecting string parameter"
#define VSL_NOT_STRING_LOWER L": expecting string parameter"
#define VSL_NOT_FILE_NAME L": Expecting File name as string parameter"
#define VSL_NO_COMMA L": Expecting , after parameter"
#define VSL_NO_COMMA_SHORT L": Expecting , "

// An operation that does nothing when the instruction runs.
#define VSL_NOTHING (void)0

// clang-format off
#define VSL_COMMANDS(X, C, N)                                                                                        \
  X(Exit, DoExit, OP_EXIT, 0, VSL_NOT_STRING, VSL_NO_COMMA, Text,                                                   \
    p.EndProgram(),                                                                                                 \
    EndRun())                                                                                                       \
  X(DelFile, DoDelFile, OP_DELFILE, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                          \
    DelFile(a0),                                                                                                    \
    DelFile(a0))                                                                                                    \
  X(DelComDLL, DoDelComDLL, OP_DELCOMDLL, 1, VSL_NOT_STRING_LOWER, VSL_NO_COMMA, Bool,                              \
    DelComDLL(a0),                                                                                                  \
    DelComDLL(a0))                                                                                                  \
  C(DelDir, DoDelDir, OP_DELDIR, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                             \
    DelTree(a0),                                                                                                    \
    DoDelDirSequence(a0))                                                                                           \
  X(UnregDLL, DoUnregDLL, OP_UNREGDLL, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                       \
    UnregDLL(a0),                                                                                                   \
    UnregDLL(a0))                                                                                                   \
  X(RegDLL, DoRegDLL, OP_REGDLL, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                             \
    RegDLL(a0),                                                                                                     \
    RegDLL(a0))                                                                                                     \
  X(RegTLB, DoRegTLB, OP_REGTLB, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                             \
    RegTLB(a0),                                                                                                     \
    RegTLB(a0))                                                                                                     \
  X(RegReadString, DoRegReadString, OP_REGREADSTRING, 2, VSL_NOT_STRING, VSL_NO_COMMA, Text,                        \
    RegReadString(HKLM, a0, a1),                                                                                    \
    RegReadString(HKLM, a0, a1))                                                                                    \
  X(RegReadValue, DoRegReadValue, OP_REGREADVALUE, 2, VSL_NOT_STRING, VSL_NO_COMMA, Text,                           \
    RegReadValue(HKLM, a0, a1),                                                                                     \
    RegReadValue(HKLM, a0, a1))                                                                                     \
  X(RegWriteString, DoRegWriteString, OP_REGWRITESTRING, 3, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                     \
    RegWriteString(HKLM, a0, a1, a2),                                                                               \
    RegWriteString(HKLM, a0, a1, a2))                                                                               \
  C(RegWriteValue, DoRegWriteValue, OP_REGWRITEVALUE, 3, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                        \
    RegWriteValue(HKLM, a0, a1, ToInt32(a2)),                                                                       \
    RegWriteValue(HKLM, a0, a1, ToInt32(a2)))                                                                       \
  X(RegDelKey, DoRegDelKey, OP_REGDELKEY, 1, VSL_NOT_STRING, VSL_NO_COMMA, Text,                                    \
    RegDelKeyTree(HKLM, a0),                                                                                        \
    RegDelKey(HKLM, a0))                                                                                            \
  X(IsRegKeyExists, DoIsRegKeyExists, OP_ISREGKEYEXISTS, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                     \
    IsRegKeyExists(a0),                                                                                             \
    VSL_NOTHING)                                                                                                    \
  X(RegDelString, DoRegDelString, OP_REGDELSTRING, 2, VSL_NOT_STRING, VSL_NO_COMMA_SHORT, Text,                     \
    RegDelString(HKLM, a0, a1),                                                                                     \
    RegDelString(HKLM, a0, a1))                                                                                     \
  X(RegCountSubNode, DoRegCountSubNode, OP_REGCOUNTSUBNODE, 1, VSL_NOT_STRING, VSL_NO_COMMA, Text,                  \
    RegCountSubNode(HKLM, a0),                                                                                      \
    RegCountSubNode(HKLM, a0))                                                                                      \
  X(rd, DoRd, OP_RD, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                                         \
    RemoveDir(a0),                                                                                                  \
    RemoveDir(a0))                                                                                                  \
  X(cd, DoCd, OP_CD, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                                         \
    ChangeDir(a0),                                                                                                  \
    ChangeDir(a0))                                                                                                  \
  X(md, DoMd, OP_MD, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                                         \
    MakeDir(a0),                                                                                                    \
    MakeDirPath(a0))                                                                                                \
  X(IsFileExists, DoIsFileExists, OP_ISFILEEXISTS, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                           \
    IsFileExists(a0),                                                                                               \
    IsFileExists(a0))                                                                                               \
  X(IsDirExists, DoIsDirExists, OP_ISDIREXISTS, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                              \
    IsDirExists(a0),                                                                                                \
    IsDirExists(a0))                                                                                                \
  X(MsgBox, DoMsgBox, OP_MSGBOX, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                             \
    (MsgBox(a0), false),                                                                                            \
    MsgBox(a0))                                                                                                     \
  X(XCopy, DoXCopy, OP_XCOPY, 2, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                                \
    xCopy(a0, a1, false),                                                                                           \
    xCopy(a0, a1, false))                                                                                           \
  X(Copy, DoCopy, OP_COPY, 2, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                                   \
    GuardedCopy(a0, a1),                                                                                            \
    GuardedCopy(a0, a1))                                                                                            \
  X(AskYesNoDlg, DoAskYesNoDlg, OP_ASKYESNODLG, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                              \
    AskYesNoDlg(a0),                                                                                                \
    AskYesNoDlg(a0))                                                                                                \
  X(AskStringDlg, DoAskStringDlg, OP_ASKSTRINGDLG, 2, VSL_NOT_STRING, VSL_NO_COMMA, Text,                           \
    AskStringDlg(a0, a1),                                                                                           \
    AskStringDlg(a0, a1))                                                                                           \
  X(AskOKDlg, DoAskOKDlg, OP_ASKOKDLG, 2, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                       \
    AskOKDlg(a0, a1),                                                                                               \
    AskOKDlg(a0, a1))                                                                                               \
  X(UnregEXE, DoUnregEXE, OP_UNREGEXE, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                       \
    UnregEXE(a0),                                                                                                   \
    UnregEXE(a0))                                                                                                   \
  X(RegEXE, DoRegEXE, OP_REGEXE, 1, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                             \
    RegEXE(a0),                                                                                                     \
    RegEXE(a0))                                                                                                     \
  X(Run, DoRun, OP_RUN, 2, VSL_NOT_STRING, VSL_NO_COMMA, Bool,                                                      \
    Run(a0, a1),                                                                                                    \
    Run(a0, a1))                                                                                                    \
  X(GetTempWorkDir, DoCreateTemp, OP_GETTEMPWORKDIR, 0, VSL_NOT_STRING, VSL_NO_COMMA, Text,                         \
    CreateTempName(),                                                                                               \
    VSL_NOTHING)                                                                                                    \
  X(WriteFile, DoWriteFile, OP_WRITEFILE, 2, VSL_NOT_STRING, VSL_NO_COMMA, Text,                                    \
    WriteFile(a0, a1),                                                                                              \
    WriteFile(a0, a1))                                                                                              \
  X(GetWinDir, DoGetWinDir, OP_GETWINDIR, 0, VSL_NOT_STRING, VSL_NO_COMMA, Text,                                    \
    GetWinDir(),                                                                                                    \
    VSL_NOTHING)                                                                                                    \
  X(IsFileWritable, DoIsFileWritable, OP_ISFILEWRITABLE, 1, VSL_NOT_FILE_NAME, VSL_NO_COMMA, Bool,                  \
    IsFileWritable(a0),                                                                                             \
    VSL_NOTHING)                                                                                                    \
  N(UnregDLLDir)                                                                                                    \
  N(ChkDelDir)
// clang-format on
