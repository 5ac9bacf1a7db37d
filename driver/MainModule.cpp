#include "driver/MainModule.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/InstallLog.h"
#include "encoder/CFileEncoder.h"
#include "forms/Forms.h"
#include "parser/CVSLParser.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/AtomicRun.h"
#include "utility/Utility.h"

namespace MainModule {

std::int32_t StatusLeft = 0;
std::int32_t StatusTop = 0;

namespace {

const wchar_t* const kUsage =
    L"Usage: vsl [--log LOGFILE] [--atomic] SCRIPT\n"
    L"       vsl --recover\n"
    L"Runs a Varnel Script Language script: the script is parsed (commands whose\n"
    L"value is assigned to a macro run at once), then its instruction list runs\n"
    L"under a progress display. The command line after the program name (after\n"
    L"the options) is the script path, taken whole. A script whose name ends in\n"
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
    L"--atomic (or VSL_ATOMIC=1) makes the run all or nothing: every change the\n"
    L"script makes to files, directories and the registry is journaled first,\n"
    L"and undone again unless the run ends with exit status 0. vsl --recover\n"
    L"undoes the changes of atomic runs that were killed.\n"
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

// What the command line asks for: options first (`--log FILE`,
// `--atomic`, each at most once, in any order), then the script path, the
// rest of the arguments joined as the command line joins them; without
// options the whole command line. VSL_LOG and VSL_ATOMIC=1 stand in for
// absent options.
struct Invocation {
  std::wstring scriptPath;
  std::wstring logPath;
  bool atomic = false;
};

Invocation ReadCommandLine(const std::wstring& commandLine) {
  Invocation inv;
  const std::vector<std::wstring> args = platform::Sys().Arguments();
  bool logGiven = false;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == L"--log" && !logGiven) {
      if (i + 1 >= args.size() || args[i + 1].empty())
        throw VslError(L"Cannot open the install log: --log names no file");
      inv.logPath = args[++i];
      logGiven = true;
    } else if (args[i] == L"--atomic" && !inv.atomic) {
      inv.atomic = true;
    } else {
      break;
    }
  }
  if (i == 0) {
    inv.scriptPath = commandLine;
  } else {
    for (std::size_t k = i; k < args.size(); ++k) inv.scriptPath += (k > i ? L" " : L"") + args[k];
  }
  if (!logGiven) inv.logPath = platform::Sys().EnvironmentValue(L"VSL_LOG");
  if (!inv.atomic) inv.atomic = platform::Sys().EnvironmentValue(L"VSL_ATOMIC") == L"1";
  return inv;
}

// Watches the parse and run for the install log and for the journal of an
// atomic run, which forces its records to the disk once per command.
class RunWatch : public RunObserver {
 public:
  RunWatch(InstallLog* log, Utility::Journal* journal) : log_(log), journal_(journal) {}
  void Command(const CommandEvent& event) override {
    if (journal_ != nullptr) journal_->CommandEnded();
    if (log_ != nullptr) log_->Command(event);
  }
  void ParseError(std::int32_t line, const std::wstring& message) override {
    if (log_ != nullptr) log_->ParseError(line, message);
  }

 private:
  InstallLog* log_;
  Utility::Journal* journal_;
};

// The driver's one report of a failure. Closing it early (Ctrl-C, SIGTERM)
// closes it all the same.
void ErrorBox(const std::wstring& description) {
  try {
    Dialogs::MsgBox(description, L"Error ");
  } catch (const RunCancelled&) {
  }
}

void ShowRollback(const Utility::RollbackReport& report, const std::wstring& whose) {
  platform::UI().ShowNotice(L"vsl: rolled back " + std::to_wstring(report.undone) + L" changes" + whose);
  for (const std::wstring& failure : report.failed) platform::UI().ShowNotice(L"vsl: could not undo: " + failure);
}

// Rolls back the atomic runs that were killed; false when a change could
// not be undone.
bool RecoverInterruptedRuns(const platform::Platform& machine) {
  bool complete = true;
  Utility::Journal::RecoverAll(machine, [&](const std::wstring& script, const Utility::RollbackReport& report) {
    ShowRollback(report, L" of an interrupted run of " + script);
    complete = complete && report.failed.empty();
  });
  return complete;
}

// The end of an atomic run: its changes are kept when it succeeded and
// undone otherwise. Then the log's last record.
void EndRun(Utility::AtomicRun* atomic, InstallLog* log, int status) {
  if (atomic != nullptr) {
    Utility::Journal& journal = atomic->TheJournal();
    try {
      if (status == kExitOk) {
        const int changes = journal.Commit();
        if (log != nullptr) log->Commit(changes);
      } else {
        const Utility::RollbackReport report = journal.Rollback();
        ShowRollback(report, L"");
        if (log != nullptr) log->Rollback(report);
      }
    } catch (const VslError& e) {
      platform::UI().ShowNotice(L"vsl: " + e.Description());
    }
  }
  if (log != nullptr) log->End(status);
}

// Parses and runs the script named on the command line; returns the exit
// status. Failures are raised; "Exit" while parsing and a failing Copy end
// the program with ProgramExit, which leaves a decrypted copy where it is.
// In an atomic run the script's commands reach the machine through the
// journal's pieces.
int RunScript(const std::wstring& commandLine, RunObserver* observer, Utility::AtomicRun* atomic) {
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
    try {
      std::optional<platform::ScopedPlatform> journaled;
      if (atomic != nullptr) journaled.emplace(atomic->Pieces());
      parser->Parse(scriptPath);
      const FormPosition at = parser->Execute({StatusLeft, StatusTop});
      StatusLeft = at.left;
      StatusTop = at.top;
      status = StatusOfRun(*parser);
    } catch (const RunCancelled&) {
      // A dialog's wait was ended, or the program was asked to stop, while
      // parsing: nothing more is parsed or run.
      status = kExitCancelled;
    }
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
  const platform::Platform machine = platform::Current();
  std::unique_ptr<InstallLog> log;
  std::unique_ptr<Utility::AtomicRun> atomic;
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
    if (commandLine == L"--recover") return RecoverInterruptedRuns(machine) ? kExitOk : kExitFailure;
    const Invocation inv = ReadCommandLine(commandLine);
    if (!inv.logPath.empty()) log = std::make_unique<InstallLog>(inv.logPath);
    if (inv.atomic) {
      RecoverInterruptedRuns(machine);
      // Only a script that is there starts a journal.
      if (!inv.scriptPath.empty() && Utility::IsFileExists(inv.scriptPath))
        atomic = std::make_unique<Utility::AtomicRun>(machine, inv.scriptPath);
    }
    RunWatch watch(log.get(), atomic ? &atomic->TheJournal() : nullptr);
    status = RunScript(inv.scriptPath, log || atomic ? &watch : nullptr, atomic.get());
  } catch (const VslError& e) {
    ErrorBox(e.Description());
    status = kExitFailure;
  } catch (const std::bad_alloc&) {
    ErrorBox(L"Out of memory");
    status = kExitFailure;
  } catch (const std::exception& e) {
    ErrorBox(Describe(e));
    status = kExitFailure;
  } catch (const RunCancelled&) {
    // Asked to stop while the log or the journal was being opened.
    status = kExitCancelled;
  } catch (const ProgramExit& e) {
    EndRun(atomic.get(), log.get(), e.Status());
    throw;
  }
  EndRun(atomic.get(), log.get(), status);
  return status;
}

}  // namespace MainModule
