// vsltool: companion commands for script authors. `list` shows the
// instruction list a script produces, `check` reports its parse errors
// without running anything.
#include <cstdio>
#include <cstring>
#include <functional>
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

// The command line of list and check: options, then exactly one script.
// Returns -1 when the command should go on, else the exit status.
int ReadArguments(const std::vector<std::string>& args, const char* command, const char* usage, bool* json,
                  std::string* script) {
  for (const auto& a : args) {
    if (a == "--help") return std::fputs(usage, stdout), 0;
    if (json != nullptr && a == "--json") {
      *json = true;
    } else if (!script->empty()) {
      return Fail(std::string(command) + ": more than one script given");
    } else {
      *script = a;
    }
  }
  if (script->empty()) return Fail(std::string(command) + ": no script given");
  return -1;
}

// Parses the script with a parser that `prepare` has set up, then hands it
// to `done`. Exit status 2 when parse errors were reported.
int ParseScript(const std::string& script, const std::function<void(CVSLParser&)>& prepare,
                const std::function<void(const CVSLParser&)>& done) {
  const std::wstring path = text::FromUtf8(script);
  try {
    if (!Utility::IsFileExists(path)) return Fail(script + ": no such script file");
    CVSLParser parser;
    prepare(parser);
    try {
      parser.Parse(path);
    } catch (const ProgramExit& exit) {
      // "Exit" run while parsing ends the parse as it ends a run; what was
      // parsed before it still counts. A failing Copy ends it with status 1.
      done(parser);
      if (exit.Status() == 1) return Fail(script + ": a Copy run while parsing failed and ended the script");
      return exit.Status();
    }
    done(parser);
    return parser.ParseErrorCount() > 0 ? 2 : 0;
  } catch (const VslError& e) {
    return Fail(script + ": " + e.what());
  }
}

int List(const std::vector<std::string>& args) {
  bool json = false;
  std::string script;
  if (int status = ReadArguments(args, "list", kListUsage, &json, &script); status >= 0) return status;
  return ParseScript(
      script, [](CVSLParser&) {}, [&](const CVSLParser& parser) { PrintList(parser.CodeGen(), json); });
}

int Check(const std::vector<std::string>& args) {
  std::string script;
  if (int status = ReadArguments(args, "check", kCheckUsage, nullptr, &script); status >= 0) return status;
  return ParseScript(
      script,
      [&](CVSLParser& parser) {
        parser.SetRunAtParseTime(false);
        parser.SetErrorSink([&](std::int32_t line, const std::wstring& message) {
          const std::wstring shown = message.rfind(L": ", 0) == 0 ? message.substr(2) : message;
          std::fprintf(stderr, "%s:%d: %s\n", script.c_str(), line, text::ToUtf8(shown).c_str());
        });
      },
      [](const CVSLParser&) {});
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
  if (command == "list") return List(args);
  if (command == "check") return Check(args);
  return Fail("unknown command '" + command + "' (try vsltool --help)");
}
