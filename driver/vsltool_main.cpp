// vsltool: companion commands for script authors. `list` shows the
// instruction list a script produces, `check` reports its parse errors
// without running anything.
#include <cstdio>
#include <cwchar>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "codegen/CCodeGen.h"
#include "codegen/OPCODES.h"
#include "encoder/CFileEncoder.h"
#include "parser/CVSLParser.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/RegFile.h"
#include "driver/MainModule.h"
#include "driver/RegTool.h"
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
    L"  encrypt IN OUT         write the encrypted (.evs) form of the script IN to OUT\n"
    L"  decrypt IN OUT         write the plain form of the encrypted script IN to OUT\n"
    L"  reg export [KEY]       write HKEY_LOCAL_MACHINE (or KEY and its subkeys) as\n"
    L"                         a REGEDIT4 file to standard output\n"
    L"  reg import FILE        load a .reg file into the registry, all or nothing\n"
    L"\n"
    L"Every command accepts --help. See vsltool(1).\n";

const wchar_t* const kListUsage =
    L"Usage: vsltool list [--json] SCRIPT\n"
    L"Parses SCRIPT as vsl would (commands assigned to macros run) and prints the\n"
    L"instruction list instead of running it: one line per instruction with its\n"
    L"index, opcode name and four parameters, or with --json one JSON object a\n"
    L"line: {\"index\":0,\"opcode\":6,\"name\":\"OP_DELFILE\",\"params\":[...]}.\n"
    L"Exit status: 0, 2 when parse errors were reported, 1 on a failure.\n"
    L"A script ending in .evs is read decrypted, as vsl reads it.\n";

const wchar_t* const kCheckUsage =
    L"Usage: vsltool check SCRIPT\n"
    L"Reports every parse error of SCRIPT on standard error as SCRIPT:LINE: MESSAGE\n"
    L"and runs nothing (a command assigned to a macro yields the empty string).\n"
    L"Exit status: 0 without errors, 2 with errors, 1 when the script cannot be read.\n"
    L"A script ending in .evs is read decrypted, as vsl reads it.\n";

const wchar_t* const kEncryptUsage =
    L"Usage: vsltool encrypt IN OUT\n"
    L"Writes the encrypted form of the plain script IN to OUT, byte for byte the\n"
    L"same length. vsl runs a script whose name ends in .evs (any case) by\n"
    L"decrypting it first. The form only hides the text from casual reading: it\n"
    L"is a fixed substitution that anyone with vsltool undoes, with no check of\n"
    L"integrity. IN is read first; then OUT is replaced. OUT must not be IN\n"
    L"itself (also not through a link or another spelling), and an OUT that\n"
    L"exists must be a regular file: a device, a pipe, a directory or a link is\n"
    L"refused, never replaced.\n"
    L"Exit status: 0 done, 1 on a failure.\n";

const wchar_t* const kDecryptUsage =
    L"Usage: vsltool decrypt IN OUT\n"
    L"Writes the plain form of the encrypted script IN to OUT, a new file that\n"
    L"only its owner can read and write. IN is read first; then OUT is\n"
    L"replaced. OUT must not be IN itself (also not through a link or another\n"
    L"spelling), and an OUT that exists must be a regular file: a device, a\n"
    L"pipe, a directory or a link is refused, never replaced.\n"
    L"Exit status: 0 done, 1 on a failure.\n";

const wchar_t* const kRegUsage =
    L"Usage: vsltool reg export [KEY]\n"
    L"       vsltool reg import FILE\n"
    L"Writes the registry below HKEY_LOCAL_MACHINE to a registry file, or loads\n"
    L"one. The registry is the one vsl uses ($VSL_REGISTRY, else registry.db in\n"
    L"the prefix). See vsltool reg export --help and vsltool reg import --help.\n";

const wchar_t* const kRegExportUsage =
    L"Usage: vsltool reg export [KEY]\n"
    L"Writes HKEY_LOCAL_MACHINE, or KEY and every key below it, to standard output\n"
    L"as a REGEDIT4 file: a [HKEY_LOCAL_MACHINE\\...] line for each key, parents\n"
    L"first, keys and values in case-insensitive name order, the default value as\n"
    L"@. Strings are quoted with \\\\ and \\\" for \\ and \"; REG_DWORD values read\n"
    L"dword:0000002a; REG_BINARY hex:; REG_EXPAND_SZ hex(2): in UTF-16LE;\n"
    L"other types hex(N):. KEY may start with HKEY_LOCAL_MACHINE\\ or HKLM\\.\n"
    L"Exit status: 0 done, 1 on a failure (no such key among them).\n";

const wchar_t* const kRegImportUsage =
    L"Usage: vsltool reg import FILE\n"
    L"Loads a registry file (REGEDIT4 or Windows Registry Editor Version 5.00;\n"
    L"UTF-16LE with its byte order mark, or UTF-8) into HKEY_LOCAL_MACHINE:\n"
    L"[KEY] creates a key, [-KEY] deletes it with its subtree, \"name\"=\"text\",\n"
    L"dword:, hex:, hex(2): (REG_EXPAND_SZ) and hex(N): set values, \"name\"=-\n"
    L"deletes one; hex data continues after a trailing backslash. The file is\n"
    L"applied as one transaction: a malformed line is reported as FILE:LINE:\n"
    L"MESSAGE and nothing is written. Keys under other roots are refused.\n"
    L"Exit status: 0 done, 1 on a failure.\n";

// A JSON string literal of s, from the JSON library; characters outside
// ASCII stay as they are and reach the output in the console's encoding.
std::wstring JsonString(const std::wstring& s) {
  return text::FromUtf8(nlohmann::json(text::ToUtf8(s)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::wstring Widen(const char* s) { return std::wstring(s, s + std::strlen(s)); }

// Standard output, written in blocks. A failed write raises VslError (from
// Print), so that a command whose output did not arrive fails.
class Output {
 public:
  void Write(const std::wstring& text) {
    buffer_ += text;
    if (buffer_.size() >= kBlock) Flush();
  }
  void Flush() {
    if (buffer_.empty()) return;
    std::wstring text;
    text.swap(buffer_);
    platform::Sys().Print(platform::OutputStream::Out, text);
  }

 private:
  static constexpr std::size_t kBlock = 1 << 16;
  std::wstring buffer_;
};

void Out(const std::wstring& text) { platform::Sys().Print(platform::OutputStream::Out, text); }

void PrintList(const CCodeGen& code, bool json) {
  Output out;
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
    out.Write(line + L"\n");
  }
  out.Flush();
}

int Fail(const std::wstring& message) {
  platform::Sys().Print(platform::OutputStream::Err, L"vsltool: " + message + L"\n");
  return 1;
}

// The one line of a failure that reached a command's end: `lead` (what it
// concerns) and the reason, "out of memory" where memory ran out.
int FailWith(const std::wstring& lead, const std::exception& e) {
  return Fail(lead +
              (dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? std::wstring(L"out of memory") : Describe(e)));
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

// Removes a file when it goes out of scope, however the parse ended: the
// tool never leaves the decrypted copy of an encrypted script behind.
struct RemoveOnExit {
  std::wstring path;
  ~RemoveOnExit() {
    try {
      if (!path.empty() && Utility::IsFileExists(path)) platform::Fs().RemoveFile(path);
    } catch (...) {
      // Nothing more can be done about it on the way out.
    }
  }
};

// Parses the script with a parser that `prepare` has set up, then hands it
// to `done`. Exit status 2 when parse errors were reported. An encrypted
// script is read as vsl reads it, from a decrypted temporary copy.
int ParseScript(const std::wstring& script, const std::function<void(CVSLParser&)>& prepare,
                const std::function<void(const CVSLParser&)>& done) {
  try {
    if (!Utility::IsFileExists(script)) return Fail(script + L": no such script file");
    RemoveOnExit copy;
    std::wstring source = script;
    if (MainModule::IsEncryptedName(script)) {
      copy.path = source = Utility::MakeScriptCopyFile();
      CFileEncoder().Decrypt(script, source);
    }
    CVSLParser parser;
    prepare(parser);
    try {
      parser.Parse(source);
    } catch (const ProgramExit& exit) {
      // "Exit" run while parsing ends the parse as it ends a run; what was
      // parsed before it still counts. A failing Copy ends it with status 1.
      done(parser);
      if (exit.Status() == 1) return Fail(script + L": a Copy run while parsing failed and ended the script");
      return exit.Status();
    }
    done(parser);
    return parser.ParseErrorCount() > 0 ? 2 : 0;
  } catch (const std::exception& e) {
    return FailWith(script + L": ", e);
  } catch (const RunCancelled&) {
    // Ctrl-C at a dialog, SIGTERM or SIGHUP: the copy is gone all the same.
    Fail(script + L": cancelled");
    return 3;
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

// encrypt IN OUT / decrypt IN OUT through the script file encoder.
int Encode(const std::vector<std::wstring>& args, bool encrypt) {
  const std::wstring command = encrypt ? L"encrypt" : L"decrypt";
  std::vector<std::wstring> files;
  for (const auto& a : args) {
    if (a == L"--help") return Usage(encrypt ? kEncryptUsage : kDecryptUsage), 0;
    files.push_back(a);
  }
  if (files.size() != 2) return Fail(command + L": expects IN and OUT (see vsltool " + command + L" --help)");
  const std::wstring& in = files[0];
  const std::wstring& out = files[1];
  try {
    platform::FileSystem& fs = platform::Fs();
    // Nothing of OUT is touched before IN has been read whole, and OUT is
    // replaced only where it is a file of data: a device, a pipe or a
    // directory of that name stays what it is.
    const std::uint32_t attributes = fs.GetAttributes(in);
    if (attributes == platform::kInvalidAttributes) return Fail(in + L": no such file");
    if ((attributes & platform::kAttrDirectory) != 0) return Fail(in + L": is a directory");
    if (fs.SamePlace(in, out) || fs.SameFile(in, out))
      return Fail(out + L": is the same file as " + in + L" (the output must be another file)");
    std::string bytes = fs.Open(in, platform::OpenMode::Read)->ReadAll();
    const bool outExists = fs.GetAttributes(out) != platform::kInvalidAttributes;
    if (outExists && !fs.IsRegularFile(out))
      return Fail(out + L": is not a regular file (a device, a pipe, a directory or a link is never replaced)");
    CFileEncoder encoder;
    if (encrypt)
      encoder.EncryptBytes(bytes);
    else
      encoder.DecryptBytes(bytes);
    // No part of an older, longer OUT may survive; and an OUT created new
    // cannot be a file or a link that someone else left under its name.
    if (outExists) fs.RemoveFile(out);
    fs.Open(out, encrypt ? platform::OpenMode::Write : platform::OpenMode::CreatePrivate)->Write(bytes);
    return 0;
  } catch (const VslError& e) {
    return Fail(e.Description());
  } catch (const std::exception& e) {
    return FailWith(in + L": ", e);
  }
}

int RegExport(const std::vector<std::wstring>& args) {
  std::wstring key;
  bool given = false;
  for (const auto& a : args) {
    if (a == L"--help") return Usage(kRegExportUsage), 0;
    if (given) return Fail(L"reg export: more than one key given");
    key = a;
    given = true;
  }
  std::wstring path;
  if (!regfile::KeyBelowRoot(key, &path))
    return Fail(L"reg export: " + key + L": only HKEY_LOCAL_MACHINE exists in this registry");
  try {
    // Written as the keys are read, so that a large registry is never held
    // whole in memory.
    std::vector<regfile::Error> errors;
    Output out;
    out.Write(regfile::HeaderText(regfile::Format::Regedit4));
    regtool::Export(path, [&](const regfile::Section& section) { out.Write(regfile::SectionText(section, &errors)); });
    out.Flush();
    for (const auto& e : errors) Fail(L"reg export: " + e.message);
    return errors.empty() ? 0 : 1;
  } catch (const std::exception& e) {
    return FailWith(L"reg export: ", e);
  }
}

int RegImport(const std::vector<std::wstring>& args) {
  std::vector<std::wstring> files;
  for (const auto& a : args) {
    if (a == L"--help") return Usage(kRegImportUsage), 0;
    files.push_back(a);
  }
  if (files.size() != 1) return Fail(L"reg import: expects one FILE (see vsltool reg import --help)");
  const std::wstring& file = files[0];
  try {
    platform::FileSystem& fs = platform::Fs();
    // The file is read twice, a piece at a time: first for the malformed
    // lines, each reported, which end the import before anything is
    // written; then to apply it. A file that cannot be read twice (a pipe,
    // a device) is kept in memory from the first reading.
    const bool again = fs.IsRegularFile(file);
    std::string kept;
    bool readBefore = false;
    std::vector<char> piece(1 << 16);
    auto feed = [&](regfile::Reader& reader) {
      if (!again && readBefore) {
        reader.Feed(kept);
      } else {
        std::unique_ptr<platform::File> in = fs.Open(file, platform::OpenMode::Read);
        while (!reader.Stopped()) {
          const std::size_t n = in->Read(piece.data(), piece.size());
          if (n == 0) break;
          if (!again) kept.append(piece.data(), n);
          reader.Feed(std::string_view(piece.data(), n));
        }
      }
      reader.Finish();
      readBefore = true;
    };
    bool malformed = false;
    regfile::Reader::Events events;
    events.error = [&](const regfile::Error& e) {
      platform::Sys().Print(platform::OutputStream::Err,
                            file + L":" + std::to_wstring(e.line) + L": " + e.message + L"\n");
      malformed = true;
    };
    regfile::Reader check(std::move(events));
    feed(check);
    if (malformed) return 1;
    try {
      regtool::Import(feed);
    } catch (const VslError& e) {
      if (e.Number() <= 0) throw;
      platform::Sys().Print(platform::OutputStream::Err,
                            file + L":" + std::to_wstring(e.Number()) + L": " + e.Description() + L"\n");
      return 1;
    }
    return 0;
  } catch (const VslError& e) {
    return Fail(e.Description());
  } catch (const std::exception& e) {
    return FailWith(file + L": ", e);
  }
}

int Reg(const std::vector<std::wstring>& args) {
  if (args.empty()) return Fail(L"reg: expects export or import (see vsltool reg --help)");
  const std::vector<std::wstring> rest(args.begin() + 1, args.end());
  if (args[0] == L"--help") return Usage(kRegUsage), 0;
  if (args[0] == L"export") return RegExport(rest);
  if (args[0] == L"import") return RegImport(rest);
  return Fail(L"reg: unknown command '" + args[0] + L"' (see vsltool reg --help)");
}

int Dispatch(const std::vector<std::wstring>& all) {
  if (all.empty() || all[0] == L"--help") {
    platform::Sys().Print(all.empty() ? platform::OutputStream::Err : platform::OutputStream::Out, kUsage);
    return all.empty() ? 1 : 0;
  }
  const std::wstring& command = all[0];
  const std::vector<std::wstring> args(all.begin() + 1, all.end());
  if (command == L"list") return List(args);
  if (command == L"check") return Check(args);
  if (command == L"encrypt") return Encode(args, true);
  if (command == L"decrypt") return Encode(args, false);
  if (command == L"reg") return Reg(args);
  return Fail(L"unknown command '" + command + L"' (try vsltool --help)");
}

int main(int argc, char** argv) {
  auto native = platform::CreateNative(argc, argv);
  platform::ScopedPlatform installed(native->Pieces());
  // Whatever a command did not handle ends the program here, in one line and
  // with status 1, once everything it held (a decrypted copy among it) has
  // been let go on the way out.
  try {
    return Dispatch(platform::Sys().Arguments());
  } catch (const std::exception& e) {
    return FailWith(L"", e);
  }
}
