#include "driver/MainModule.h"

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

const wchar_t* const kUsage =
    L"Usage: vsl SCRIPT\n"
    L"Runs a Varnel Script Language script: the script is parsed (commands whose\n"
    L"value is assigned to a macro run at once), then its instruction list runs\n"
    L"under a progress display. The command line after the program name is the\n"
    L"script path, taken whole.\n"
    L"\n"
    L"On Linux the dialogs are written to standard error and answered on standard\n"
    L"input, and Ctrl-C while the instruction list runs cancels it. On Windows\n"
    L"they are windows, and the progress dialog has a Cancel button\n"
    L"(VSL_DIALOGS=console asks them on standard error and input there too).\n"
    L"\n"
    L"Exit status: 0 done, 1 a run-time failure, 2 parse errors were reported,\n"
    L"3 cancelled, 4 no script.\n"
    L"\n"
    L"  vsl --help      this text\n"
    L"  vsl --version   the version\n";

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

void ComputeStatusPosition(double screenWidth, double screenHeight, double dialogWidth, double dialogHeight,
                           std::int32_t& left, std::int32_t& top) {
  left = RoundHalfEven(screenWidth / 2 - dialogWidth / 2);
  top = RoundHalfEven(screenHeight / 2 - dialogHeight / 2 - 200);
}

int Main() {
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

    int status = kExitNoScript;
    auto parser = std::make_unique<CVSLParser>();
    if (Utility::IsFileExists(commandLine)) {
      std::wstring scriptPath = commandLine;
      const std::wstring ending = commandLine.size() < 4 ? commandLine : commandLine.substr(commandLine.size() - 4);
      if (text::EqualsNoCase(ending, L".EVS"))
        throw VslError(L"Cannot run " + commandLine + L": encrypted scripts are not supported by this build");
      if (Utility::IsFileExists(scriptPath)) {
        parser->Parse(scriptPath);
        const FormPosition at = parser->Execute({StatusLeft, StatusTop});
        StatusLeft = at.left;
        StatusTop = at.top;
        status = StatusOfRun(*parser);
      }
    }
    // Releasing the parser releases its tokenizer, macro store and
    // instruction list; every dialog was closed by its owner already.
    parser.reset();
    return status;
  } catch (const VslError& e) {
    Dialogs::MsgBox(e.Description(), L"Error ");
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    Dialogs::MsgBox(L"Out of memory", L"Error ");
    return kExitFailure;
  } catch (const std::exception& e) {
    Dialogs::MsgBox(Describe(e), L"Error ");
    return kExitFailure;
  }
}

}  // namespace MainModule
