// The script front end: the statement loop, keyword dispatch, IF statements,
// macro assignments and one handler per command, which either appends an
// instruction or runs the command at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "codegen/CCodeGen.h"
#include "macros/CMacroManager.h"
#include "parser/Tokens.h"
#include "tokenizer/CTokenizer.h"

class CVSLParser {
 public:
  // Receives each parse error: the line and the message (which begins with
  // ": "). The default shows "Line N: message" in a message box.
  using ErrorSink = std::function<void(std::int32_t line, const std::wstring& message)>;

  CVSLParser();
  ~CVSLParser();
  CVSLParser(const CVSLParser&) = delete;
  CVSLParser& operator=(const CVSLParser&) = delete;

  void Parse(const std::wstring& sFileName);
  void Start();
  void Execute();

  // Public command methods.
  std::wstring DoCreateTemp(bool bExec, bool bExecAtParseTime);
  void AddMacro(const std::wstring& ID, const std::wstring& Value);
  std::wstring DoGetWinDir(const bool& bExec, const bool& bExecAtParseTime);
  std::wstring DoIsRegKeyExists(const bool& bExec, const bool& bExecAtParseTime);

  // Tools: report parse errors elsewhere, and parse without running
  // commands (a parse-time command then yields "").
  void SetErrorSink(ErrorSink sink) { errorSink_ = std::move(sink); }
  void SetRunAtParseTime(bool run) { runAtParseTime_ = run; }

  std::int32_t ParseErrorCount() const { return parseErrors_; }
  CTokenizer& Tokenizer() { return *tokenizer_; }
  CMacroManager& Macros() { return *macros_; }
  CCodeGen& CodeGen() { return *codegen_; }
  const CCodeGen& CodeGen() const { return *codegen_; }

  // IF statements nest at most this deep; a deeper one is a parse error.
  static constexpr int kMaxIfDepth = 200;

 private:
  // Statement loop.
  std::int32_t ParseBlock(bool bExec);
  std::int32_t ParseStatement(bool bExec);
  static bool IsBlockEnd(std::int32_t k);
  std::int32_t DoCommand(bool bExec, bool bExecAtParseTime, std::wstring& sResult);

  // Conditions and assignments.
  std::int32_t DoIf(bool bExec);
  std::int32_t DoAssignment(bool bExec);
  bool ParseCondition(bool bExec);
  bool ParseComparison(bool bExec);
  static bool IsLogicalOperator(std::int32_t k);
  // Reads and ignores the rest of an IF part that a failed assignment or
  // command-interpreter statement ended early, so that nothing of a part not
  // taken can take effect; returns the token that ends the part.
  std::int32_t SkipRestOfPart();
  // Parses one part of an IF statement with the given flag and returns the
  // token that ended it.
  std::int32_t ParsePart(bool bExec);
  // Passes over an IF statement, nested ones included, without parsing it.
  void SkipIfStatement();
  // Advances the tokenizer and remembers the kind of the current token.
  std::int32_t Next();

  // Shared helpers.
  std::wstring ExpandMacros(const std::wstring& s);
  static std::wstring BoolToStr(bool b);
  void ReportError(const std::wstring& message);
  // Reads n string arguments separated by commas. On a wrong token reports
  // notString or comma and returns false.
  bool ReadArguments(int n, std::wstring* args, const wchar_t* notString, const wchar_t* comma);

  // Command handlers.
  std::wstring DoExit(bool bExec, bool bExecAtParseTime);
  std::wstring DoDelFile(bool bExec, bool bExecAtParseTime);
  std::wstring DoDelComDLL(bool bExec, bool bExecAtParseTime);
  std::wstring DoDelDir(bool bExec, bool bExecAtParseTime);
  std::wstring DoUnregDLL(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegDLL(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegTLB(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegReadString(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegReadValue(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegWriteString(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegWriteValue(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegDelKey(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegDelString(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegCountSubNode(bool bExec, bool bExecAtParseTime);
  std::wstring DoRd(bool bExec, bool bExecAtParseTime);
  std::wstring DoCd(bool bExec, bool bExecAtParseTime);
  std::wstring DoMd(bool bExec, bool bExecAtParseTime);
  std::wstring DoIsFileExists(bool bExec, bool bExecAtParseTime);
  std::wstring DoIsDirExists(bool bExec, bool bExecAtParseTime);
  std::wstring DoMsgBox(bool bExec, bool bExecAtParseTime);
  std::wstring DoXCopy(bool bExec, bool bExecAtParseTime);
  std::wstring DoCopy(bool bExec, bool bExecAtParseTime);
  std::wstring DoAskYesNoDlg(bool bExec, bool bExecAtParseTime);
  std::wstring DoAskStringDlg(bool bExec, bool bExecAtParseTime);
  std::wstring DoAskOKDlg(bool bExec, bool bExecAtParseTime);
  std::wstring DoUnregEXE(bool bExec, bool bExecAtParseTime);
  std::wstring DoRegEXE(bool bExec, bool bExecAtParseTime);
  std::wstring DoRun(bool bExec, bool bExecAtParseTime);
  std::wstring DoWriteFile(bool bExec, bool bExecAtParseTime);
  std::wstring DoIsFileWritable(bool bExec, bool bExecAtParseTime);
  std::int32_t DoShellCmd(bool bExec);

  // The pattern every command follows once its arguments are read.
  using Operation = std::function<std::wstring()>;
  std::wstring TakeEffect(bool bExec, bool bExecAtParseTime, std::int32_t lOpCode, const std::wstring& p1,
                          const std::wstring& p2, const std::wstring& p3, const Operation& runNow,
                          bool booleanResult);

  // Reads nArgs arguments and takes effect with `run` as the parse-time
  // operation; the shape of most commands.
  using Args = std::array<std::wstring, 3>;
  std::wstring Command(bool bExec, bool bExecAtParseTime, std::int32_t lOpCode, int nArgs, const wchar_t* notString,
                       const wchar_t* comma, bool booleanResult, const std::function<std::wstring(const Args&)>& run);

  std::unique_ptr<CTokenizer> tokenizer_;
  std::unique_ptr<CMacroManager> macros_;
  std::unique_ptr<CCodeGen> codegen_;
  ErrorSink errorSink_;
  bool runAtParseTime_ = true;
  std::int32_t parseErrors_ = 0;
  int ifDepth_ = 0;
  std::int32_t currentKind_ = TK_EOF;
};
