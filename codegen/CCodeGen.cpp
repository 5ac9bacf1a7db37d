#include "codegen/CCodeGen.h"

#include <stdexcept>
#include <type_traits>

#include "codegen/COMMANDS.h"

#include "forms/Forms.h"
#include "platform/Platform.h"
#include "utility/Utility.h"

CCodeGen::CCodeGen() = default;

// Releasing the list frees every parameter string with the vector.
CCodeGen::~CCodeGen() = default;

void CCodeGen::Grow() { lUpperBound += lGrowBy; }

const Instruction& CCodeGen::At(std::int32_t i) const {
  static const Instruction kEmpty;
  if (i < 0 || i > lUpperBound) throw std::out_of_range("CCodeGen::At: no such slot");
  return static_cast<std::size_t>(i) < aInst.size() ? aInst[static_cast<std::size_t>(i)] : kEmpty;
}

std::int32_t CCodeGen::AddInst(std::int32_t lOpCode, std::wstring Param1, std::wstring Param2,
                               std::wstring Param3, std::wstring Param4, std::int32_t lLine) {
  if (!HasRoom()) Grow();
  Instruction& slot = aInst.emplace_back();
  slot.lOpCode = lOpCode;
  slot.Param1 = std::move(Param1);
  slot.Param2 = std::move(Param2);
  slot.Param3 = std::move(Param3);
  slot.Param4 = std::move(Param4);
  slot.lLine = lLine;
  ++lInstCount;
  return -1;
}

std::int32_t CCodeGen::Execute(frmStatusDlg* oStatus) {
  const std::int32_t n = lInstCount;
  lastRunEnd_ = RunEnd::Completed;
  // Every failure below ends the run without a message; the list stays as it
  // is and the caller gets 0 in any case.
  try {
    if (oStatus != nullptr) {
      oStatus->SetProgressMin(0);
      oStatus->SetProgressMax(n + 1);
      oStatus->Show();
    }
    for (std::int32_t i = 0; i < n; ++i) {
      // Without a dialog there is nothing to report progress to and nothing
      // that could be cancelled.
      if (oStatus != nullptr) {
        oStatus->SetProgressValue(i);
        if (oStatus->IsCancelled()) {
          lastRunEnd_ = RunEnd::Cancelled;
          return 0;
        }
      }
      Dialogs::DoEvents();
      Instruction& inst = aInst[static_cast<std::size_t>(i)];
      if (oStatus != nullptr)
        oStatus->SetStatusText(L"Running Instruction " + std::to_wstring(i) + L" of " + std::to_wstring(n));
      if (!RunObserved(i, inst)) {
        lastRunEnd_ = RunEnd::Exited;
        return 0;
      }
      Dialogs::DoEvents();
    }
  } catch (const VslError&) {
    lastRunEnd_ = RunEnd::Failed;
  } catch (const RunCancelled&) {
    // A dialog's wait was ended by Ctrl-C, SIGTERM or SIGHUP.
    lastRunEnd_ = RunEnd::Cancelled;
  }
  return 0;
}

void CCodeGen::DoDelDirSequence(const std::wstring& dir) {
  const std::wstring remembered = Utility::CurrentDirectory();
  if (Utility::IsDirExists(dir)) {
    Utility::ChangeDrive(dir.substr(0, 2));
    Utility::ChangeDirectory(dir);
    std::wstring path = dir;
    Utility::DelDirTree(path);
  }
  Utility::ChangeDrive(remembered.substr(0, 2));
  Utility::ChangeDirectory(remembered);
}

namespace {

// Evaluates an operation and gives its value as text: "True"/"False" for a
// Boolean, the string itself, "" for an operation without a value.
template <typename F>
std::wstring Outcome(F&& operation) {
  using R = decltype(operation());
  if constexpr (std::is_void_v<R>) {
    operation();
    return std::wstring();
  } else if constexpr (std::is_same_v<R, bool>) {
    return operation() ? L"True" : L"False";
  } else {
    return std::wstring(operation());
  }
}

}  // namespace

bool CCodeGen::RunObserved(std::int32_t index, Instruction& inst) {
  std::wstring outcome;
  if (observer_ == nullptr) return RunInstruction(inst, outcome);
  // The parameters as the instruction starts: some operations rewrite
  // them in place.
  CommandEvent event;
  event.phase = CommandEvent::Phase::Run;
  event.index = index;
  event.line = inst.lLine;
  event.opcode = inst.lOpCode;
  event.params = {inst.Param1, inst.Param2, inst.Param3, inst.Param4};
  try {
    const bool goOn = RunInstruction(inst, outcome);
    event.outcome = std::move(outcome);
    observer_->Command(event);
    return goOn;
  } catch (const VslError& e) {
    event.failed = true;
    event.outcome = e.Description();
    observer_->Command(event);
    throw;
  } catch (const ProgramExit& e) {
    event.failed = true;
    event.outcome = e.Failure();
    observer_->Command(event);
    throw;
  }
}

bool CCodeGen::RunInstruction(Instruction& inst, std::wstring& outcome) {
  using namespace Utility;
  using namespace Dialogs;
  [[maybe_unused]] std::wstring& a0 = inst.Param1;
  [[maybe_unused]] std::wstring& a1 = inst.Param2;
  [[maybe_unused]] std::wstring& a2 = inst.Param3;
  endRun_ = false;
  switch (inst.lOpCode) {
#define VSL_RUN_CASE(keyword, handler, opcode, nArgs, notString, comma, result, atParseTime, atRunTime) \
  case opcode:                                                                                           \
    outcome = Outcome([&] { return atRunTime; });                                                        \
    break;
#define VSL_NO_CASE(keyword)
    VSL_COMMANDS(VSL_RUN_CASE, VSL_RUN_CASE, VSL_NO_CASE)
#undef VSL_RUN_CASE
#undef VSL_NO_CASE
    case OP_SHELLCMD:
      RunShellCmd(a0);
      break;
    default:
      // Numbers without an operation take effect nowhere.
      break;
  }
  return !endRun_;
}
