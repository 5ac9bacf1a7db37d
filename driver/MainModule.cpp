#include "driver/MainModule.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "forms/Forms.h"
#include "parser/CVSLParser.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "utility/Utility.h"

namespace MainModule {

std::int32_t StatusLeft = 0;
std::int32_t StatusTop = 0;

namespace {

const char* const kUsage =
    "Usage: vsl SCRIPT\n"
    "Runs a Varnel Script Language script: the script is parsed (commands whose\n"
    "value is assigned to a macro run at once), then its instruction list runs\n"
    "under a progress display. The command line after the program name is the\n"
    "script path, taken whole.\n"
    "\n"
    "Dialogs are written to standard error and answered on standard input.\n"
    "Ctrl-C while the instruction list runs cancels it.\n"
    "\n"
    "Exit status: 0 done, 1 a run-time failure, 2 parse errors were reported,\n"
    "3 cancelled, 4 no script.\n"
    "\n"
    "  vsl --help      this text\n"
    "  vsl --version   the version\n";

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

// nearbyint rounds halves to even in the default rounding mode.
std::int32_t RoundHalfEven(double v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

void ComputeStatusPosition(double screenWidth, double screenHeight, double dialogWidth, double dialogHeight,
                           std::int32_t& left, std::int32_t& top) {
  left = RoundHalfEven(screenWidth / 2 - dialogWidth / 2);
  top = RoundHalfEven(screenHeight / 2 - dialogHeight / 2 - 200);
}

int Main() {
  try {
    const auto [screenWidth, screenHeight] = platform::UI().ScreenSize();
    ComputeStatusPosition(screenWidth, screenHeight, kStatusDlgWidth, kStatusDlgHeight, StatusLeft, StatusTop);

    const std::wstring commandLine = platform::Sys().CommandLineText();
    if (commandLine == L"--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (commandLine == L"--version") {
      std::fputs("vsl " VSL_VERSION "\n", stdout);
      return kExitOk;
    }

    int status = kExitNoScript;
    auto parser = std::make_unique<CVSLParser>();
    if (Utility::IsFileExists(commandLine)) {
      std::wstring scriptPath = commandLine;
      const std::wstring ending = commandLine.size() < 4 ? commandLine : commandLine.substr(commandLine.size() - 4);
      if (text::EqualsNoCase(ending, L".EVS"))
        throw VslError(L"Cannot run " + commandLine + L": encrypted scripts are not supported by this build");
      if (Utility::IsFileExists(scriptPath)) {
        parser->Parse(scriptPath);
        parser->Execute();
        status = StatusOfRun(*parser);
      }
    }
    // Releasing the parser releases its tokenizer, macro store and
    // instruction list; every dialog was closed by its owner already.
    parser.reset();
    return status;
  } catch (const VslError& e) {
    Utility::MsgBox(e.Description(), L"Error ");
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    Utility::MsgBox(L"Out of memory", L"Error ");
    return kExitFailure;
  } catch (const std::exception& e) {
    Utility::MsgBox(text::FromUtf8(e.what()), L"Error ");
    return kExitFailure;
  }
}

}  // namespace MainModule
