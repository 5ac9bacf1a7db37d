// The instruction list and the executor that runs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codegen/OPCODES.h"

class frmStatusDlg;

struct Instruction {
  std::int32_t lOpCode = 0;
  std::wstring Param1;
  std::wstring Param2;
  std::wstring Param3;
  std::wstring Param4;
};

class CCodeGen {
 public:
  // How the last run of the list ended. The executor's result does not tell;
  // the driver reads this for the exit status.
  enum class RunEnd { NotRun, Completed, Exited, Cancelled, Failed };

  CCodeGen();
  ~CCodeGen();

  // Appends one instruction; always -1.
  std::int32_t AddInst(std::int32_t lOpCode, std::wstring Param1, std::wstring Param2, std::wstring Param3,
                       std::wstring Param4);
  // Runs the list from the first instruction to the last; always 0.
  std::int32_t Execute(frmStatusDlg* oStatus);

  // Read access for tools and tests.
  std::int32_t InstCount() const { return lInstCount; }
  std::int32_t UpperBound() const { return lUpperBound; }
  // The instruction in slot i (0 to UpperBound()); a slot past the count is
  // empty.
  const Instruction& At(std::int32_t i) const;
  RunEnd LastRunEnd() const { return lastRunEnd_; }

 private:
  bool HasRoom() const { return lInstCount <= lUpperBound; }
  void Grow();
  // Carries out one instruction; false for OP_EXIT.
  bool RunInstruction(Instruction& inst);
  void DoDelDirSequence(const std::wstring& dir);

  // The slots up to the count; the array's bound is lUpperBound, and the
  // slots between the two are empty, so they are not stored: a script of a
  // few statements does not pay for 501 of them at start-up.
  std::vector<Instruction> aInst;
  std::int32_t lInstCount = 0;
  std::int32_t lGrowBy = 500;
  std::int32_t lUpperBound = 500;
  RunEnd lastRunEnd_ = RunEnd::NotRun;
};
