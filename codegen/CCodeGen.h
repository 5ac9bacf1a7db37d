// The instruction list and the executor that runs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codegen/OPCODES.h"
#include "codegen/RunObserver.h"

class frmStatusDlg;

struct Instruction {
  std::int32_t lOpCode = 0;
  std::wstring Param1;
  std::wstring Param2;
  std::wstring Param3;
  std::wstring Param4;
  // The script line the instruction came from, 0 when unknown.
  std::int32_t lLine = 0;
};

class CCodeGen {
 public:
  // How the last run of the list ended. The executor's result does not tell;
  // the driver reads this for the exit status.
  enum class RunEnd { NotRun, Completed, Exited, Cancelled, Failed };

  CCodeGen();
  ~CCodeGen();

  // Appends one instruction, made from script line `lLine` when known.
  void AddInst(std::int32_t lOpCode, std::wstring Param1, std::wstring Param2, std::wstring Param3,
                       std::wstring Param4, std::int32_t lLine = 0);
  // Runs the list from the first instruction to the last; LastRunEnd()
  // tells how the run ended.
  void Execute(frmStatusDlg* oStatus);

  // Read access for tools and tests.
  std::int32_t InstCount() const { return lInstCount; }
  // The instruction in slot i, from 0 up to the array's bound; a slot past
  // the count is empty.
  const Instruction& At(std::int32_t i) const;
  RunEnd LastRunEnd() const { return lastRunEnd_; }

  // Tells `observer` (null: nobody) about every instruction that runs.
  void SetObserver(RunObserver* observer) { observer_ = observer; }

 private:
  bool HasRoom() const { return lInstCount <= lUpperBound; }
  void Grow();
  // Carries out one instruction and reports it to the observer; false for
  // OP_EXIT.
  bool RunObserved(std::int32_t index, Instruction& inst);
  // Carries out one instruction; false for OP_EXIT. `outcome` receives the
  // operation's result as text.
  bool RunInstruction(Instruction& inst, std::wstring& outcome);
  void DoDelDirSequence(const std::wstring& dir);
  // OP_EXIT: the run ends after this instruction.
  void EndRun() { endRun_ = true; }

  // The slots up to the count; the array's bound is lUpperBound, and the
  // slots between the two are empty, so they are not stored: a script of a
  // few statements does not pay for 501 of them at start-up.
  std::vector<Instruction> aInst;
  std::int32_t lInstCount = 0;
  std::int32_t lGrowBy = 500;
  std::int32_t lUpperBound = 500;
  RunEnd lastRunEnd_ = RunEnd::NotRun;
  RunObserver* observer_ = nullptr;
  bool endRun_ = false;
};
