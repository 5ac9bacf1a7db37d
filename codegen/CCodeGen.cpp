#include "codegen/CCodeGen.h"

#include "forms/Forms.h"
#include "platform/Platform.h"
#include "utility/Utility.h"

CCodeGen::CCodeGen() { aInst.resize(static_cast<std::size_t>(lUpperBound) + 1); }

CCodeGen::~CCodeGen() {
  // Cut the list down to one empty slot, which frees every parameter string.
  aInst.resize(1);
  aInst[0] = Instruction{};
}

void CCodeGen::Grow() {
  lUpperBound += lGrowBy;
  aInst.resize(static_cast<std::size_t>(lUpperBound) + 1);
}

std::int32_t CCodeGen::AddInst(std::int32_t lOpCode, std::wstring Param1, std::wstring Param2,
                               std::wstring Param3, std::wstring Param4) {
  if (!HasRoom()) Grow();
  Instruction& slot = aInst[static_cast<std::size_t>(lInstCount)];
  slot.lOpCode = lOpCode;
  slot.Param1 = std::move(Param1);
  slot.Param2 = std::move(Param2);
  slot.Param3 = std::move(Param3);
  slot.Param4 = std::move(Param4);
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
      Utility::DoEvents();
      Instruction& inst = aInst[static_cast<std::size_t>(i)];
      if (oStatus != nullptr)
        oStatus->SetStatusText(L"Running Instruction " + std::to_wstring(i) + L" of " + std::to_wstring(n));
      if (!RunInstruction(inst)) {
        lastRunEnd_ = RunEnd::Exited;
        return 0;
      }
      Utility::DoEvents();
    }
  } catch (const VslError&) {
    lastRunEnd_ = RunEnd::Failed;
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

bool CCodeGen::RunInstruction(Instruction& inst) {
  using platform::kHKeyLocalMachine;
  const bool noEvents = false;
  switch (inst.lOpCode) {
    case OP_RD: Utility::RemoveDir(inst.Param1); break;
    case OP_CD: Utility::ChangeDir(inst.Param1); break;
    case OP_MD: Utility::MakeDirPath(inst.Param1); break;
    case OP_REGDLL: Utility::RegDLL(inst.Param1); break;
    case OP_EXIT: return false;
    case OP_DELFILE: Utility::DelFile(inst.Param1); break;
    case OP_DELCOMDLL:
      Utility::UnregDLL(inst.Param1);
      Utility::DelFile(inst.Param1);
      break;
    case OP_DELDIR: DoDelDirSequence(inst.Param1); break;
    case OP_UNREGDLL: Utility::UnregDLL(inst.Param1); break;
    case OP_UNREGEXE: Utility::UnregEXE(inst.Param1); break;
    case OP_REGCOUNTSUBNODE: Utility::RegCountSubNode(kHKeyLocalMachine, inst.Param1); break;
    case OP_ISFILEEXISTS: Utility::IsFileExists(inst.Param1); break;
    case OP_ISDIREXISTS: Utility::IsDirExists(inst.Param1); break;
    case OP_MSGBOX: Utility::MsgBox(inst.Param1); break;
    case OP_XCOPY: Utility::xCopy(inst.Param1, inst.Param2, noEvents); break;
    case OP_COPY: Utility::GuardedCopy(inst.Param1, inst.Param2); break;
    case OP_REGREADSTRING: Utility::RegReadString(kHKeyLocalMachine, inst.Param1, inst.Param2); break;
    case OP_REGDELKEY:
      // A single delete call: only a key without subkeys goes, and the
      // answer is not looked at.
      platform::Reg().DeleteKey(kHKeyLocalMachine, inst.Param1);
      break;
    case OP_REGDELSTRING: Utility::RegDelString(kHKeyLocalMachine, inst.Param1, inst.Param2); break;
    case OP_REGWRITESTRING:
      Utility::RegWriteString(kHKeyLocalMachine, inst.Param1, inst.Param2, inst.Param3);
      break;
    case OP_REGWRITEVALUE:
      Utility::RegWriteValue(kHKeyLocalMachine, inst.Param1, inst.Param2, Utility::ToInt32(inst.Param3));
      break;
    case OP_ASKYESNODLG: Utility::AskYesNoDlg(inst.Param1); break;
    case OP_ASKSTRINGDLG: Utility::AskStringDlg(inst.Param1, inst.Param2); break;
    case OP_ASKOKDLG: Utility::AskOKDlg(inst.Param1, inst.Param2); break;
    case OP_SHELLCMD: Utility::RunShellCmd(inst.Param1); break;
    case OP_REGREADVALUE: Utility::RegReadValue(kHKeyLocalMachine, inst.Param1, inst.Param2); break;
    case OP_REGEXE: Utility::RegEXE(inst.Param1); break;
    case OP_RUN: Utility::Run(inst.Param1, inst.Param2); break;
    case OP_WRITEFILE: Utility::WriteFile(inst.Param1, inst.Param2); break;
    case OP_REGTLB: Utility::RegTLB(inst.Param1); break;
    default:
      // OP_GETTEMPWORKDIR, OP_GETWINDIR, OP_ISREGKEYEXISTS, OP_ISFILEWRITABLE
      // and numbers without an operation take effect only at parse time.
      break;
  }
  return true;
}
