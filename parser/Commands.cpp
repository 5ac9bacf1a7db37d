// The command handlers. Each reads its string arguments, expands the macro
// references in them, and then does nothing (a statement that does not take
// effect), appends one instruction, or runs the operation at once and hands
// back its result as a string. What each command reads, emits and runs is
// its row of the command table; the handlers written here by hand are the
// ones that do more.
#include <type_traits>

#include "forms/Forms.h"
#include "parser/CVSLParser.h"
#include "utility/Utility.h"

enum class ResultKind { Bool, Text };

struct CommandInfo {
  std::int32_t opcode;
  int nArgs;
  const wchar_t* notString;
  const wchar_t* comma;
  ResultKind result;
  // Runs the command at parse time and gives its result string.
  std::wstring (*atParseTime)(CVSLParser& p, CommandArgs& args);
};

using namespace OPCODES;
using namespace Tokens;

namespace {

using namespace Utility;
using namespace Dialogs;

// A parse-time operation's value as the command's result string; the
// table's result kind must match the operation's type.
template <ResultKind kind, typename T>
std::wstring AsResult(T value) {
  if constexpr (kind == ResultKind::Bool) {
    static_assert(std::is_same_v<T, bool>, "a Bool command's operation gives a bool");
    return CVSLParser::BoolToStr(value);
  } else {
    static_assert(std::is_same_v<T, std::wstring>, "a Text command's operation gives a string");
    return value;
  }
}

enum class Cmd {
#define VSL_COMMAND_ID(keyword, ...) keyword,
#define VSL_NO_ID(keyword)
  VSL_COMMANDS(VSL_COMMAND_ID, VSL_COMMAND_ID, VSL_NO_ID)
#undef VSL_COMMAND_ID
#undef VSL_NO_ID
};

const CommandInfo kCommands[] = {
#define VSL_COMMAND_INFO(keyword, handler, opcode, nArgs, notString, comma, result, atParseTime, atRunTime) \
  {opcode, nArgs, notString, comma, ResultKind::result,                                                   \
   []([[maybe_unused]] CVSLParser & p, CommandArgs & args) -> std::wstring {                                             \
     [[maybe_unused]] std::wstring& a0 = args[0];                                                         \
     [[maybe_unused]] std::wstring& a1 = args[1];                                                         \
     [[maybe_unused]] std::wstring& a2 = args[2];                                                         \
     return AsResult<ResultKind::result>(atParseTime);                                                    \
   }},
#define VSL_NO_INFO(keyword)
    VSL_COMMANDS(VSL_COMMAND_INFO, VSL_COMMAND_INFO, VSL_NO_INFO)
#undef VSL_COMMAND_INFO
#undef VSL_NO_INFO
};

const CommandInfo& Info(Cmd c) { return kCommands[static_cast<int>(c)]; }

}  // namespace

// arguments: TK_STRING { TK_COMMA TK_STRING }, exactly as many strings as
// the command takes.
bool CVSLParser::ReadArguments(const CommandInfo& command, CommandArgs& args) {
  for (int k = 0; k < command.nArgs; ++k) {
    if (k > 0 && Next() != TK_COMMA) {
      ReportError(command.comma);
      return false;
    }
    if (Next() != TK_STRING) {
      ReportError(command.notString);
      return false;
    }
    args[static_cast<std::size_t>(k)] = ExpandMacros(tokenizer_->TokenText());
  }
  return true;
}

std::wstring CVSLParser::TakeEffect(const CommandInfo& command, bool bExec, bool bExecAtParseTime,
                                    CommandArgs& args) {
  const std::wstring unused = command.result == ResultKind::Bool ? L"False" : L"";
  if (!bExec) return unused;
  if (bExecAtParseTime) return runAtParseTime_ ? RunNow(command, args) : std::wstring();
  codegen_->AddInst(command.opcode, args[0], args[1], args[2], L"", commandLine_);
  return unused;
}

std::wstring CVSLParser::RunNow(const CommandInfo& command, CommandArgs& args) {
  if (observer_ == nullptr) return command.atParseTime(*this, args);
  const CommandArgs given = args;
  try {
    std::wstring result = command.atParseTime(*this, args);
    Observe(command.opcode, given, false, result);
    return result;
  } catch (const VslError& e) {
    Observe(command.opcode, given, true, e.Description());
    throw;
  } catch (const ProgramExit& e) {
    // "Exit" ends the program as asked; a failing Copy says what failed.
    Observe(command.opcode, given, !e.Failure().empty(), e.Failure());
    throw;
  }
}

void CVSLParser::Observe(std::int32_t opcode, const CommandArgs& args, bool failed, const std::wstring& outcome) {
  if (observer_ == nullptr) return;
  CommandEvent event;
  event.phase = CommandEvent::Phase::Parse;
  event.line = commandLine_;
  event.opcode = opcode;
  event.params = {args[0], args[1], args[2], L""};
  event.failed = failed;
  event.outcome = outcome;
  observer_->CommandRan(event);
}

std::wstring CVSLParser::ReadAndTakeEffect(const CommandInfo& command, bool bExec, bool bExecAtParseTime) {
  CommandArgs args;
  if (!ReadArguments(command, args)) return L"";
  return TakeEffect(command, bExec, bExecAtParseTime, args);
}

// The generated handlers.
#define VSL_DEFINE_HANDLER(keyword, handler, ...)                           \
  std::wstring CVSLParser::handler(bool bExec, bool bExecAtParseTime) {     \
    return ReadAndTakeEffect(Info(Cmd::keyword), bExec, bExecAtParseTime);  \
  }
#define VSL_HAND_WRITTEN(...)
#define VSL_NO_HANDLER(keyword)
VSL_COMMANDS(VSL_DEFINE_HANDLER, VSL_HAND_WRITTEN, VSL_NO_HANDLER)
#undef VSL_DEFINE_HANDLER
#undef VSL_HAND_WRITTEN
#undef VSL_NO_HANDLER

// The dispatcher: the keyword is compared whole and case-sensitively with
// the table; a word that matches no row does nothing.
std::wstring CVSLParser::DoCommand(bool bExec, bool bExecAtParseTime) {
  const std::wstring word = tokenizer_->TokenText();
  commandLine_ = tokenizer_->TokenLine();
#define VSL_DISPATCH(keyword, handler, ...) \
  if (word == L"" #keyword) return handler(bExec, bExecAtParseTime);
#define VSL_NO_HANDLER(keyword) \
  if (word == L"" #keyword) return std::wstring();
  VSL_COMMANDS(VSL_DISPATCH, VSL_DISPATCH, VSL_NO_HANDLER)
#undef VSL_DISPATCH
#undef VSL_NO_HANDLER
  return std::wstring();
}

std::wstring CVSLParser::EndProgram() { throw ProgramExit(parseErrors_ > 0 ? 2 : 0); }

// The deletion runs (or is emitted) with the target's drive current, and the
// current drive and directory are restored afterwards.
std::wstring CVSLParser::DoDelDir(bool bExec, bool bExecAtParseTime) {
  const CommandInfo& command = Info(Cmd::DelDir);
  CommandArgs args;
  if (!ReadArguments(command, args)) return L"";
  if (!bExec || !runAtParseTime_) return TakeEffect(command, bExec, bExecAtParseTime, args);
  const std::wstring remembered = CurrentDirectory();
  if (HasDriveLetter(args[0])) ChangeDrive(args[0].substr(0, 2));
  std::wstring result = TakeEffect(command, bExec, bExecAtParseTime, args);
  if (HasDriveLetter(remembered)) ChangeDrive(remembered.substr(0, 2));
  ChangeDirectory(remembered);
  return result;
}

// The number text is converted whenever the statement takes effect, so text
// that is not a number ends the parse whether the command runs or is emitted.
std::wstring CVSLParser::DoRegWriteValue(bool bExec, bool bExecAtParseTime) {
  const CommandInfo& command = Info(Cmd::RegWriteValue);
  CommandArgs args;
  if (!ReadArguments(command, args)) return L"";
  if (bExec) {
    if (runAtParseTime_) {
      try {
        ToInt32(args[2]);
      } catch (const VslError& e) {
        // The parse ends here; the log says why.
        Observe(command.opcode, args, true, e.Description());
        throw;
      }
    } else {
      // A check reports the text that a run would stop at, and goes on.
      try {
        ToInt32(args[2]);
      } catch (const VslError& e) {
        ReportError(L": " + e.Description());
        return L"";
      }
    }
  }
  return TakeEffect(command, bExec, bExecAtParseTime, args);
}

// command-interpreter statement: TK_SHELLCMD TK_STRING
// Never runs while parsing. Fails after a parse error, which ends the block
// being parsed.
CVSLParser::StatementEnd CVSLParser::DoShellCmd(bool bExec) {
  static const CommandInfo kShell{OP_SHELLCMD, 1, VSL_NOT_STRING, VSL_NO_COMMA, ResultKind::Text, nullptr};
  commandLine_ = tokenizer_->TokenLine();
  CommandArgs args;
  if (!ReadArguments(kShell, args)) return StatementEnd::Failed;
  if (bExec) codegen_->AddInst(OP_SHELLCMD, args[0], L"", L"", L"", commandLine_);
  return StatementEnd::Next;
}
