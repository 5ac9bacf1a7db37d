// vsltool: companion commands for script authors. `list` shows the
// instruction list a script produces, `check` reports its parse errors
// without running anything.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codegen/CCodeGen.h"
#include "codegen/OPCODES.h"
#include "parser/CVSLParser.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/Utility.h"

namespace {

const char* const kUsage =
    "Usage: vsltool COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Commands:\n"
    "  list [--json] SCRIPT   parse SCRIPT as vsl would (commands assigned to\n"
    "                         macros do run) and print the instruction list\n"
    "  check SCRIPT           report every parse error as SCRIPT:LINE: MESSAGE,\n"
    "                         running nothing; exit 2 when there were errors\n"
    "\n"
    "Every command accepts --help.\n";

const char* const kListUsage =
    "Usage: vsltool list [--json] SCRIPT\n"
    "Parses SCRIPT as vsl would (commands assigned to macros run) and prints the\n"
    "instruction list instead of running it: one line per instruction with its\n"
    "index, opcode name and four parameters, or with --json one JSON object a\n"
    "line: {\"index\":0,\"opcode\":6,\"name\":\"OP_DELFILE\",\"params\":[...]}.\n"
    "Exit status: 0, 2 when parse errors were reported, 1 on a failure.\n";

const char* const kCheckUsage =
    "Usage: vsltool check SCRIPT\n"
    "Reports every parse error of SCRIPT on standard error as SCRIPT:LINE: MESSAGE\n"
    "and runs nothing (a command assigned to a macro yields the empty string).\n"
    "Exit status: 0 without errors, 2 with errors, 1 when the script cannot be read.\n";

// A JSON string literal of s (UTF-8).
std::string JsonString(const std::wstring& s) {
  std::string out = "\"";
  for (unsigned char c : text::ToUtf8(s)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

void PrintList(const CCodeGen& code, bool json) {
  for (std::int32_t i = 0; i < code.InstCount(); ++i) {
    const Instruction& inst = code.At(i);
    const std::wstring* params[] = {&inst.Param1, &inst.Param2, &inst.Param3, &inst.Param4};
    std::string line;
    if (json) {
      line = "{\"index\":" + std::to_string(i) + ",\"opcode\":" + std::to_string(inst.lOpCode) + ",\"name\":\"" +
             OPCODES::OpcodeName(inst.lOpCode) + "\",\"params\":[";
      for (int k = 0; k < 4; ++k) line += (k ? "," : "") + JsonString(*params[k]);
      line += "]}";
    } else {
      char head[64];
      std::snprintf(head, sizeof head, "%04d %-20s", i, OPCODES::OpcodeName(inst.lOpCode));
      line = head;
      for (int k = 0; k < 4; ++k) line += " " + JsonString(*params[k]);
    }
    std::puts(line.c_str());
  }
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vsltool: %s\n", message.c_str());
  return 1;
}

// Opens the script as vsl does; "" when it is fine, else the problem.
std::string ScriptProblem(const std::wstring& path) {
  if (!Utility::IsFileExists(path)) return "no such script file";
  return "";
}

int List(const std::vector<std::string>& args) {
  bool json = false;
  std::string script;
  for (const auto& a : args) {
    if (a == "--help") return std::fputs(kListUsage, stdout), 0;
    if (a == "--json") json = true;
    else if (!script.empty()) return Fail("list: more than one script given");
    else script = a;
  }
  if (script.empty()) return Fail("list: no script given");
  const std::wstring path = text::FromUtf8(script);
  try {
    if (auto problem = ScriptProblem(path); !problem.empty()) return Fail(script + ": " + problem);
    CVSLParser parser;
    parser.Parse(path);
    PrintList(parser.CodeGen(), json);
    return parser.ParseErrorCount() > 0 ? 2 : 0;
  } catch (const VslError& e) {
    return Fail(script + ": " + e.what());
  }
}

int Check(const std::vector<std::string>& args) {
  std::string script;
  for (const auto& a : args) {
    if (a == "--help") return std::fputs(kCheckUsage, stdout), 0;
    if (!script.empty()) return Fail("check: more than one script given");
    script = a;
  }
  if (script.empty()) return Fail("check: no script given");
  const std::wstring path = text::FromUtf8(script);
  try {
    if (auto problem = ScriptProblem(path); !problem.empty()) return Fail(script + ": " + problem);
    CVSLParser parser;
    parser.SetRunAtParseTime(false);
    parser.SetErrorSink([&](std::int32_t line, const std::wstring& message) {
      std::wstring shown = message.rfind(L": ", 0) == 0 ? message.substr(2) : message;
      std::fprintf(stderr, "%s:%d: %s\n", script.c_str(), line, text::ToUtf8(shown).c_str());
    });
    parser.Parse(path);
    return parser.ParseErrorCount() > 0 ? 2 : 0;
  } catch (const VslError& e) {
    return Fail(script + ": " + e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 1 : 0;
  }
  auto native = platform::CreateNative(argc, argv);
  platform::ScopedPlatform installed(native->Pieces());
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    if (command == "list") return List(args);
    if (command == "check") return Check(args);
  } catch (const ProgramExit& exit) {
    // "Exit" run while listing ends the listing as it ends a run.
    return exit.Status();
  }
  return Fail("unknown command '" + command + "' (try vsltool --help)");
}
