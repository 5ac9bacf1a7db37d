#include "driver/MainModule.h"

#include <memory>
#include <string>
#include <vector>

#include "driver/InstallLog.h"
#include "encoder/CFileEncoder.h"
#include "forms/Forms.h"
#include "parser/CVSLParser.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/Utility.h"

namespace MainModule {

std::int32_t StatusLeft = 0;
std::int32_t StatusTop = 0;

namespace {

const wchar_t* const kUsage =
    L"Usage: vsl [--log LOGFILE] SCRIPT\n"
    L"Runs a Varnel Script Language script: the script is parsed (commands whose\n"
    L"value is assigned to a macro run at once), then its instruction list runs\n"
    L"under a progress display. The command line after the program name (after\n"
    L"--log LOGFILE) is the script path, taken whole. A script whose name ends in\n"
    L".evs (any case) is encrypted: it runs from a decrypted temporary copy.\n"
    L"\n"
    L"On Linux the dialogs are written to standard error and answered on standard\n"
    L"input, and Ctrl-C while the instruction list runs cancels it. On Windows\n"
    L"they are windows, and the progress dialog has a Cancel button\n"
    L"(VSL_DIALOGS=console asks them on standard error and input there too).\n"
    L"\n"
    L"--log LOGFILE (or the environment variable VSL_LOG) appends an install log\n"
    L"to LOGFILE: one JSON object a line for every command run while parsing,\n"
    L"every instruction run and every parse error, then the exit status.\n"
    L"\n"
    L"Exit status: 0 done, 1 a run-time failure, 2 parse errors were reported,\n"
    L"3 cancelled, 4 no script.\n"
    L"\n"
    L"  vsl --help      this text\n"
    L"  vsl --version   the version\n"
    L"See vsl(1) for the language.\n";

// The exit status of a run that reached its end; failures and cancellation
// outrank parse errors.
int StatusOfRun(const CVSLParser& parser) {
  switch (parser.CodeGen().LastRunEnd()) {
    case CCodeGen::RunEnd::Failed:
      return kExitFailure;
    case CCodeGen::RunEnd::Cancelled:
      return kExitCancelled;
    default:
      return parser.ParseErrorCount() > 0 ? kExitParseErrors : kExitOk;
  }
}

}  // namespace

bool IsEncryptedName(const std::wstring& path) {
  const std::wstring ending = path.size() < 4 ? path : path.substr(path.size() - 4);
  return text::EqualsNoCase(ending, L".EVS");
}

void ComputeStatusPosition(double screenWidth, double screenHeight, double dialogWidth, double dialogHeight,
                           std::int32_t& left, std::int32_t& top) {
  left = RoundHalfEven(screenWidth / 2 - dialogWidth / 2);
  top = RoundHalfEven(screenHeight / 2 - dialogHeight / 2 - 200);
}

namespace {

// Where the script path and the install log come from: `--log FILE` as the
// first two arguments, the rest being the script path joined as the command
// line joins it; otherwise the whole command line, and VSL_LOG.
struct Invocation {
  std::wstring scriptPath;
  std::wstring logPath;
};

Invocation ReadCommandLine(const std::wstring& commandLine) {
  Invocation inv;
  const std::vector<std::wstring> args = platform::Sys().Arguments();
  if (!args.empty() && args[0] == L"--log") {
    if (args.size() < 2 || args[1].empty()) throw VslError(L"Cannot open the install log: --log names no file");
    inv.logPath = args[1];
    for (std::size_t i = 2; i < args.size(); ++i) inv.scriptPath += (i > 2 ? L" " : L"") + args[i];
    return inv;
  }
  inv.scriptPath = commandLine;
  inv.logPath = platform::Sys().EnvironmentValue(L"VSL_LOG");
  return inv;
}

// Parses and runs the script named on the command line; returns the exit
// status. Failures are raised; "Exit" while parsing and a failing Copy end
// the program with ProgramExit, which leaves a decrypted copy where it is.
int RunScript(const std::wstring& commandLine, RunObserver* observer) {
  if (commandLine.empty()) {
    platform::UI().ShowNotice(L"vsl: no script given (see vsl --help)");
    return kExitNoScript;
  }
  auto parser = std::make_unique<CVSLParser>();
  parser->SetObserver(observer);
  if (!Utility::IsFileExists(commandLine)) {
    parser.reset();
    platform::UI().ShowNotice(L"vsl: no such script: " + commandLine);
    return kExitNoScript;
  }
  std::wstring scriptPath = commandLine;
  std::wstring decryptedCopy;
  if (IsEncryptedName(commandLine)) {
    decryptedCopy = Utility::MakeScriptCopyFile();
    CFileEncoder encoder;
    encoder.Decrypt(commandLine, decryptedCopy);
    scriptPath = decryptedCopy;
  }
  // A decrypted copy that cannot be found is not run, without a message.
  int status = kExitFailure;
  if (Utility::IsFileExists(scriptPath)) {
    parser->Parse(scriptPath);
    const FormPosition at = parser->Execute({StatusLeft, StatusTop});
    StatusLeft = at.left;
    StatusTop = at.top;
    status = StatusOfRun(*parser);
    if (status == kExitCancelled) platform::UI().ShowNotice(L"vsl: cancelled");
  }
  // Releasing the parser releases its tokenizer, macro store and instruction
  // list; every dialog was closed by its owner already. Then the decrypted
  // copy goes.
  parser.reset();
  if (!decryptedCopy.empty() && Utility::IsFileExists(decryptedCopy)) platform::Fs().RemoveFile(decryptedCopy);
  return status;
}

}  // namespace

int Main() {
  std::unique_ptr<InstallLog> log;
  int status = kExitFailure;
  try {
    platform::UI().SetAbortExitStatus(kExitCancelled);
    const auto [screenWidth, screenHeight] = platform::UI().ScreenSize();
    ComputeStatusPosition(screenWidth, screenHeight, kStatusDlgWidth, kStatusDlgHeight, StatusLeft, StatusTop);

    const std::wstring commandLine = platform::Sys().CommandLineText();
    if (commandLine == L"--help") {
      platform::Sys().Print(platform::OutputStream::Out, kUsage);
      return kExitOk;
    }
    if (commandLine == L"--version") {
      platform::Sys().Print(platform::OutputStream::Out, L"vsl " VSL_VERSION_W L"\n");
      return kExitOk;
    }
    const Invocation inv = ReadCommandLine(commandLine);
    if (!inv.logPath.empty()) log = std::make_unique<InstallLog>(inv.logPath);
    status = RunScript(inv.scriptPath, log.get());
  } catch (const VslError& e) {
    Dialogs::MsgBox(e.Description(), L"Error ");
    status = kExitFailure;
  } catch (const std::bad_alloc&) {
    Dialogs::MsgBox(L"Out of memory", L"Error ");
    status = kExitFailure;
  } catch (const std::exception& e) {
    Dialogs::MsgBox(Describe(e), L"Error ");
    status = kExitFailure;
  } catch (const ProgramExit& e) {
    if (log) log->End(e.Status());
    throw;
  }
  if (log) log->End(status);
  return status;
}

}  // namespace MainModule
