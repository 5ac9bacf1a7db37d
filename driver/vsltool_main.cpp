// vsltool: companion commands for script authors. `list` shows the
// instruction list a script produces, `check` reports its parse errors
// without running anything.
#include <cstdio>
#include <cwchar>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codegen/CCodeGen.h"
#include "codegen/OPCODES.h"
#include "parser/CVSLParser.h"
#include "platform/Platform.h"
#include "utility/Utility.h"

namespace {

const wchar_t* const kUsage =
    L"Usage: vsltool COMMAND [OPTIONS] ARGS\n"
    L"\n"
    L"Commands:\n"
    L"  list [--json] SCRIPT   parse SCRIPT as vsl would (commands assigned to\n"
    L"                         macros do run) and print the instruction list\n"
    L"  check SCRIPT           report every parse error as SCRIPT:LINE: MESSAGE,\n"
    L"                         running nothing; exit 2 when there were errors\n"
    "\n"
    "Every command accepts --help.\n";

const wchar_t* const kListUsage =
    L"Usage: vsltool list [--json] SCRIPT\n"
    L"Parses SCRIPT as vsl would (commands assigned to macros run) and prints the\n"
    L"instruction list instead of running it: one line per instruction with its\n"
    L"index, opcode name and four parameters, or with --json one JSON object a\n"
    L"line: {\"index\":0,\"opcode\":6,\"name\":\"OP_DELFILE\",\"params\":[...]}.\n"
    L"Exit status: 0, 2 when parse errors were reported, 1 on a failure.\n";

const wchar_t* const kCheckUsage =
    L"Usage: vsltool check SCRIPT\n"
    L"Reports every parse error of SCRIPT on standard error as SCRIPT:LINE: MESSAGE\n"
    L"and runs nothing (a command assigned to a macro yields the empty string).\n"
    L"Exit status: 0 without errors, 2 with errors, 1 when the script cannot be read.\n";

// A JSON string literal of s; characters outside ASCII stay as they are and
// reach the output in the console's encoding.
std::wstring JsonString(const std::wstring& s) {
  std::wstring out = L"\"";
  for (wchar_t c : s) {
    switch (c) {
      case L'"': out += L"\\\""; break;
      case L'\\': out += L"\\\\"; break;
      case L'\n': out += L"\\n"; break;
      case L'\r': out += L"\\r"; break;
      case L'\t': out += L"\\t"; break;
      default:
        if (c < 0x20) {
          wchar_t buf[8];
          std::swprintf(buf, 8, L"\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out.push_back(c);
        }
    }
  }
  return out + L"\"";
}

std::wstring Widen(const char* s) { return std::wstring(s, s + std::strlen(s)); }

void Out(const std::wstring& text) { platform::Sys().Print(platform::OutputStream::Out, text); }

void PrintList(const CCodeGen& code, bool json) {
  for (std::int32_t i = 0; i < code.InstCount(); ++i) {
    const Instruction& inst = code.At(i);
    const std::wstring* params[] = {&inst.Param1, &inst.Param2, &inst.Param3, &inst.Param4};
    const std::wstring name = Widen(OPCODES::OpcodeName(inst.lOpCode));
    std::wstring line;
    if (json) {
      line = L"{\"index\":" + std::to_wstring(i) + L",\"opcode\":" + std::to_wstring(inst.lOpCode) + L",\"name\":\"" +
             name + L"\",\"params\":[";
      for (int k = 0; k < 4; ++k) line += (k ? L"," : L"") + JsonString(*params[k]);
      line += L"]}";
    } else {
      wchar_t head[64];
      std::swprintf(head, 64, L"%04d %-20ls", i, name.c_str());
      line = head;
      for (int k = 0; k < 4; ++k) line += L" " + JsonString(*params[k]);
    }
    Out(line + L"\n");
  }
}

int Fail(const std::wstring& message) {
  platform::Sys().Print(platform::OutputStream::Err, L"vsltool: " + message + L"\n");
  return 1;
}

void Usage(const wchar_t* usage) { Out(usage); }

// The command line of list and check: options, then exactly one script.
// Returns -1 when the command should go on, else the exit status.
int ReadArguments(const std::vector<std::wstring>& args, const wchar_t* command, const wchar_t* usage, bool* json,
                  std::wstring* script) {
  for (const auto& a : args) {
    if (a == L"--help") return Usage(usage), 0;
    if (json != nullptr && a == L"--json") {
      *json = true;
    } else if (!script->empty()) {
      return Fail(std::wstring(command) + L": more than one script given");
    } else {
      *script = a;
    }
  }
  if (script->empty()) return Fail(std::wstring(command) + L": no script given");
  return -1;
}

// Parses the script with a parser that `prepare` has set up, then hands it
// to `done`. Exit status 2 when parse errors were reported.
int ParseScript(const std::wstring& script, const std::function<void(CVSLParser&)>& prepare,
                const std::function<void(const CVSLParser&)>& done) {
  try {
    if (!Utility::IsFileExists(script)) return Fail(script + L": no such script file");
    CVSLParser parser;
    prepare(parser);
    try {
      parser.Parse(script);
    } catch (const ProgramExit& exit) {
      // "Exit" run while parsing ends the parse as it ends a run; what was
      // parsed before it still counts. A failing Copy ends it with status 1.
      done(parser);
      if (exit.Status() == 1) return Fail(script + L": a Copy run while parsing failed and ended the script");
      return exit.Status();
    }
    done(parser);
    return parser.ParseErrorCount() > 0 ? 2 : 0;
  } catch (const VslError& e) {
    return Fail(script + L": " + e.Description());
  }
}

int List(const std::vector<std::wstring>& args) {
  bool json = false;
  std::wstring script;
  if (int status = ReadArguments(args, L"list", kListUsage, &json, &script); status >= 0) return status;
  return ParseScript(
      script, [](CVSLParser&) {}, [&](const CVSLParser& parser) { PrintList(parser.CodeGen(), json); });
}

int Check(const std::vector<std::wstring>& args) {
  std::wstring script;
  if (int status = ReadArguments(args, L"check", kCheckUsage, nullptr, &script); status >= 0) return status;
  return ParseScript(
      script,
      [&](CVSLParser& parser) {
        parser.SetRunAtParseTime(false);
        parser.SetErrorSink([&](std::int32_t line, const std::wstring& message) {
          const std::wstring shown = message.rfind(L": ", 0) == 0 ? message.substr(2) : message;
          platform::Sys().Print(platform::OutputStream::Err,
                                script + L":" + std::to_wstring(line) + L": " + shown + L"\n");
        });
      },
      [](const CVSLParser&) {});
}

}  // namespace

int main(int argc, char** argv) {
  auto native = platform::CreateNative(argc, argv);
  platform::ScopedPlatform installed(native->Pieces());
  const std::vector<std::wstring> all = platform::Sys().Arguments();
  if (all.empty() || all[0] == L"--help") {
    platform::Sys().Print(all.empty() ? platform::OutputStream::Err : platform::OutputStream::Out, kUsage);
    return all.empty() ? 1 : 0;
  }
  const std::wstring& command = all[0];
  const std::vector<std::wstring> args(all.begin() + 1, all.end());
  if (command == L"list") return List(args);
  if (command == L"check") return Check(args);
  return Fail(L"unknown command '" + command + L"' (try vsltool --help)");
}
