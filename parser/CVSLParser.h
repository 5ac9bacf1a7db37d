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
#include "codegen/COMMANDS.h"
#include "forms/Forms.h"
#include "macros/CMacroManager.h"
#include "tokenizer/CTokenizer.h"
#include "tokenizer/Tokens.h"

// A command's row of the command table, as the parser uses it.
struct CommandInfo;
// The expanded string arguments of a command, Param1 to Param3.
using CommandArgs = std::array<std::wstring, 3>;

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
  // Runs the instruction list under a status dialog opened at `statusAt`.
  void Execute(FormPosition statusAt);

  // Public command methods.
  void AddMacro(const std::wstring& ID, const std::wstring& Value);

  // Command handlers, one per command of the command table (DoCreateTemp,
  // DoGetWinDir and DoIsRegKeyExists among them). Each reads the command's
  // arguments and then does nothing, appends one instruction or runs the
  // command at once and returns its result string.
#define VSL_DECLARE_HANDLER(keyword, handler, ...) std::wstring handler(bool bExec, bool bExecAtParseTime);
#define VSL_NO_HANDLER(keyword)
  VSL_COMMANDS(VSL_DECLARE_HANDLER, VSL_DECLARE_HANDLER, VSL_NO_HANDLER)
#undef VSL_DECLARE_HANDLER
#undef VSL_NO_HANDLER

  // "Exit" run while parsing: ends the program on the spot, with the status
  // of the parse so far.
  [[noreturn]] std::wstring EndProgram();
  // "True" or "False", as a command's Boolean result reads.
  static std::wstring BoolToStr(bool b);

  // Tools: report parse errors elsewhere, and parse without running
  // commands (a parse-time command then yields "").
  void SetErrorSink(ErrorSink sink) { errorSink_ = std::move(sink); }
  void SetRunAtParseTime(bool run) { runAtParseTime_ = run; }
  // Tells `observer` (null: nobody) about every command run while parsing,
  // every parse error and, through the instruction list, every instruction
  // that runs.
  void SetObserver(RunObserver* observer) {
    observer_ = observer;
    codegen_->SetObserver(observer);
  }

  std::int32_t ParseErrorCount() const { return parseErrors_; }
  CTokenizer& Tokenizer() { return *tokenizer_; }
  CMacroManager& Macros() { return *macros_; }
  CCodeGen& CodeGen() { return *codegen_; }
  const CCodeGen& CodeGen() const { return *codegen_; }

  // IF statements nest at most this deep; a deeper one is a parse error.
  static constexpr int kMaxIfDepth = 200;

 private:
  // How a statement ended, as the routines that parse a block need to know.
  enum class StatementEnd {
    // The statement was parsed (or its first token passed over): the block
    // goes on with the next token.
    Next,
    // An assignment or a command-interpreter statement met a parse error:
    // the block ends as if the input had ended.
    Failed,
    // The end of the input, ENDIF or ELSE, which end a block.
    EndOfInput,
    EndIf,
    Else,
  };

  // Statement loop.
  StatementEnd ParseBlock(bool bExec);
  StatementEnd ParseStatement(bool bExec);
  static bool IsBlockEnd(StatementEnd end);
  // Compares the current keyword with the command table and calls its
  // handler; returns the handler's result ("" for a keyword without one).
  std::wstring DoCommand(bool bExec, bool bExecAtParseTime);

  // Conditions and assignments.
  void DoIf(bool bExec);
  StatementEnd DoAssignment(bool bExec);
  bool ParseCondition(bool bExec);
  bool ParseComparison(bool bExec);
  static bool IsLogicalOperator(std::int32_t k);
  // Parses one part of an IF statement with the given flag and returns how
  // it ended: EndOfInput, EndIf or Else.
  StatementEnd ParsePart(bool bExec);
  // After a failed statement inside an IF part: EndIf or Else when the token
  // the statement stopped at is the part's own end, else Failed (the rest of
  // the part is then skipped, which at the end of the input finds just that).
  StatementEnd EndAfterFailure() const;
  // Reads and ignores the rest of an IF part that a failed assignment or
  // command-interpreter statement ended early, so that nothing of a part not
  // taken can take effect; returns how the part ended.
  StatementEnd SkipRestOfPart();
  // Passes over an IF statement, nested ones included, without parsing it.
  void SkipIfStatement();
  // Advances the tokenizer and remembers the kind of the current token.
  std::int32_t Next();

  // Shared helpers.
  std::wstring ExpandMacros(const std::wstring& s);
  void ReportError(const std::wstring& message);

  // The steps every command handler takes: read the command's arguments
  // (false after a parse error, which is reported), then take effect.
  bool ReadArguments(const CommandInfo& command, CommandArgs& args);
  std::wstring TakeEffect(const CommandInfo& command, bool bExec, bool bExecAtParseTime, CommandArgs& args);
  // Runs the command now and tells the observer how it went.
  std::wstring RunNow(const CommandInfo& command, CommandArgs& args);
  // Tells the observer about a command run while parsing.
  void Observe(std::int32_t opcode, const CommandArgs& args, bool failed, const std::wstring& outcome);
  // Both, for the commands that need nothing else.
  std::wstring ReadAndTakeEffect(const CommandInfo& command, bool bExec, bool bExecAtParseTime);
  // command-interpreter statement
  StatementEnd DoShellCmd(bool bExec);

  std::unique_ptr<CTokenizer> tokenizer_;
  std::unique_ptr<CMacroManager> macros_;
  std::unique_ptr<CCodeGen> codegen_;
  ErrorSink errorSink_;
  RunObserver* observer_ = nullptr;
  // The line of the keyword of the command being parsed.
  std::int32_t commandLine_ = 0;
  bool runAtParseTime_ = true;
  std::int32_t parseErrors_ = 0;
  int ifDepth_ = 0;
  std::int32_t currentKind_ = Tokens::TK_EOF;
};
