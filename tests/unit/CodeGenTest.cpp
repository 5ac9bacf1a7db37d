// The instruction list's growth and the executor's run: progress, status
// text, cancellation, Exit and the silent failure path.
#include <gtest/gtest.h>

#include "Doubles.h"
#include "codegen/CCodeGen.h"
#include "driver/MainModule.h"
#include "forms/Forms.h"

namespace {

class ExecutorTest : public ::testing::Test {
 protected:
  ExecutorTest() : scope_(Pieces()) {}
  platform::Platform Pieces() {
    platform::Platform p;
    p.ui = &ui;
    return p;
  }
  FormPosition Run() {
    frmStatusDlg status(FormPosition{});
    EXPECT_EQ(code.Execute(&status), 0);
    return status.Unload();
  }
  FakeUi ui;
  platform::ScopedPlatform scope_;
  CCodeGen code;
};

using Calls = std::vector<std::string>;

TEST(InstructionList, GrowsBy500WhenFullAndKeepsEverything) {
  CCodeGen code;
  EXPECT_EQ(code.UpperBound(), 500);
  for (int i = 0; i < 501; ++i) code.AddInst(OP_MSGBOX, std::to_wstring(i), L"", L"", L"");
  EXPECT_EQ(code.UpperBound(), 500);  // the 501st fits without growing
  EXPECT_EQ(code.AddInst(OP_DELFILE, L"x", L"y", L"z", L""), -1);
  EXPECT_EQ(code.UpperBound(), 1000);
  ASSERT_EQ(code.InstCount(), 502);
  EXPECT_EQ(code.At(0).Param1, L"0");
  EXPECT_EQ(code.At(500).Param1, L"500");
  EXPECT_EQ(code.At(501).lOpCode, OP_DELFILE);
  EXPECT_EQ(code.At(501).Param3, L"z");
}

TEST(InstructionList, OpcodeNamesComeFromTheTable) {
  EXPECT_STREQ(OPCODES::OpcodeName(6), "OP_DELFILE");
  EXPECT_STREQ(OPCODES::OpcodeName(27), "OP_SHELLCMD");
  EXPECT_STREQ(OPCODES::OpcodeName(36), "OP_ISFILEWRITABLE");
  EXPECT_STREQ(OPCODES::OpcodeName(11), "");
  EXPECT_STREQ(OPCODES::OpcodeName(37), "");
}

TEST_F(ExecutorTest, AnEmptyListShowsTheDialogAndSetsNoValue) {
  Run();
  // Loading the form sets 0..100, then the executor sets 0..1 and shows it.
  EXPECT_EQ(ui.status.calls, (Calls{"range 0 100", "range 0 100", "range 0 100", "range 0 1", "show"}));
  EXPECT_TRUE(ui.status.closed);
  EXPECT_EQ(code.LastRunEnd(), CCodeGen::RunEnd::Completed);
}

TEST_F(ExecutorTest, EachInstructionGetsItsValueAndStatusText) {
  code.AddInst(OP_MSGBOX, L"one", L"", L"", L"");
  code.AddInst(11, L"", L"", L"", L"");
  code.AddInst(OP_GETWINDIR, L"", L"", L"", L"");
  code.AddInst(-4, L"", L"", L"", L"");
  code.AddInst(OP_MSGBOX, L"two", L"", L"", L"");
  Run();
  Calls want{"range 0 100", "range 0 100", "range 0 100", "range 0 6", "show"};
  for (int i = 0; i < 5; ++i) {
    want.push_back("value " + std::to_string(i));
    want.push_back("text Running Instruction " + std::to_string(i) + " of 5");
  }
  EXPECT_EQ(ui.status.calls, want);
  EXPECT_EQ(ui.shown, (std::vector<std::wstring>{L"Varnel Script Language: one", L"Varnel Script Language: two"}));
  EXPECT_EQ(ui.pumps, 10);  // twice per instruction
  EXPECT_EQ(code.LastRunEnd(), CCodeGen::RunEnd::Completed);
}

TEST_F(ExecutorTest, ExitEndsTheRunAtItsInstruction) {
  code.AddInst(OP_MSGBOX, L"before", L"", L"", L"");
  code.AddInst(OP_EXIT, L"", L"", L"", L"");
  code.AddInst(OP_MSGBOX, L"after", L"", L"", L"");
  Run();
  EXPECT_EQ(ui.shown, (std::vector<std::wstring>{L"Varnel Script Language: before"}));
  EXPECT_EQ(ui.status.calls.back(), "text Running Instruction 1 of 3");
  EXPECT_EQ(code.LastRunEnd(), CCodeGen::RunEnd::Exited);
}

TEST_F(ExecutorTest, CancelIsNoticedBeforeTheNextInstruction) {
  ui.status.cancelAtValue = 1;
  code.AddInst(OP_MSGBOX, L"first", L"", L"", L"");
  code.AddInst(OP_MSGBOX, L"second", L"", L"", L"");
  Run();
  EXPECT_EQ(ui.shown, (std::vector<std::wstring>{L"Varnel Script Language: first"}));
  EXPECT_EQ(ui.status.calls.back(), "value 1");
  EXPECT_EQ(code.LastRunEnd(), CCodeGen::RunEnd::Cancelled);
}

TEST_F(ExecutorTest, AFailureEndsTheRunSilently) {
  code.AddInst(OP_MSGBOX, L"first", L"", L"", L"");
  code.AddInst(OP_REGWRITEVALUE, L"Software\\X", L"v", L"abc", L"");
  code.AddInst(OP_MSGBOX, L"never", L"", L"", L"");
  Run();
  EXPECT_EQ(ui.shown, (std::vector<std::wstring>{L"Varnel Script Language: first"}));
  EXPECT_EQ(code.LastRunEnd(), CCodeGen::RunEnd::Failed);
}

TEST_F(ExecutorTest, TheDialogRecordsItsPositionWhenUnloaded) {
  const FormPosition at = Run();
  EXPECT_EQ(at.left, 1234);
  EXPECT_EQ(at.top, 567);
}

TEST(StatusPosition, CentredAnd200TwipsAboveTheMiddle) {
  std::int32_t left = 0, top = 0;
  MainModule::ComputeStatusPosition(19200, 14400, 4800, 1800, left, top);
  EXPECT_EQ(left, 7200);
  EXPECT_EQ(top, 6100);
  // Halves round to even.
  MainModule::ComputeStatusPosition(1001, 1401, 0, 0, left, top);
  EXPECT_EQ(left, 500);   // 500.5
  EXPECT_EQ(top, 500);    // 700.5 - 200 = 500.5
  MainModule::ComputeStatusPosition(1003, 1403, 0, 0, left, top);
  EXPECT_EQ(left, 502);   // 501.5
  EXPECT_EQ(top, 502);
}

}  // namespace
