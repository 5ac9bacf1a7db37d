// Running the instruction list with the status dialog: its steps, Exit, Cancel, the silent end on a failure.
#include "Doubles.h"
#include "codegen/CCodeGen.h"
#include "forms/Forms.h"

using namespace OPCODES;
using End = CCodeGen::RunEnd;
using Insts = std::vector<std::pair<int, std::wstring>>;

// The dialog shows the range 0..n+1, then gets the value and the text of each step.
static std::string Calls(int n, int steps, bool lastText = true) {
  std::string s = "range 0 " + std::to_string(n + 1) + ",show";
  for (int i = 0; i < steps; ++i) {
    s += ",value " + std::to_string(i);
    if (i + 1 < steps || lastText) s += ",text Running Instruction " + std::to_string(i) + " of " + std::to_string(n);
  }
  return s;
}

TEST(Executor, RunsInstructionsWithTheStatusDialog) {
  const struct { Insts insts; int cancelAt; std::string calls; std::wstring shown; int pumps; End end; } cases[] = {
      {{}, -1, Calls(0, 0), L"", 0, End::Completed},
      // Opcodes without an action (11, -4, GetWinDir at run time) still count.
      {{{OP_MSGBOX, L"one"}, {11, L""}, {OP_GETWINDIR, L""}, {-4, L""}, {OP_MSGBOX, L"two"}}, -1, Calls(5, 5),
       L"one;two;", 10, End::Completed},
      {{{OP_MSGBOX, L"before"}, {OP_EXIT, L""}, {OP_MSGBOX, L"after"}}, -1, Calls(3, 2), L"before;", 3, End::Exited},
      // Cancel is noticed before the next instruction.
      {{{OP_MSGBOX, L"first"}, {OP_MSGBOX, L"second"}}, 1, Calls(2, 2, false), L"first;", 2, End::Cancelled},
      {{{OP_MSGBOX, L"first"}, {OP_REGWRITEVALUE, L"Software\\X"}, {OP_MSGBOX, L"never"}}, -1, Calls(3, 2), L"first;", 3,
       End::Failed},  // the value "abc" is no number
  };
  for (const auto& c : cases) {
    FakeUi ui;
    ui.status.cancelAtValue = c.cancelAt;
    platform::ScopedPlatform scope(platform::Platform{.ui = &ui});
    CCodeGen code;
    for (const auto& [op, p1] : c.insts) code.AddInst(op, p1, L"v", L"abc", L"");
    frmStatusDlg status(FormPosition{});
    code.Execute(&status);
    const FormPosition at = status.Unload();
    std::string calls;
    for (const std::string& s : ui.status.calls) calls += (calls.empty() ? "" : ",") + s;
    std::wstring shown;
    for (const auto& s : ui.shown) shown += s.substr(s.find(L": ") + 2) + L";";
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(shown, c.shown) << c.calls;
    EXPECT_EQ(ui.pumps, c.pumps) << c.calls;
    EXPECT_EQ(code.LastRunEnd(), c.end) << c.calls;
    EXPECT_TRUE(ui.status.closed && at.left == 1234 && at.top == 567);  // closed where it was
  }
}

// The list reads as an array of 501 slots that grows by 500 (bound 500, then 1000): a slot up to the bound
// and past the count is empty, one beyond it or below 0 is an error.
TEST(Executor, SlotsReachTheArraysBound) {
  CCodeGen code;
  code.AddInst(OP_MSGBOX, L"x", L"", L"", L"");
  EXPECT_EQ(code.At(0).Param1, L"x");
  EXPECT_EQ(code.At(500).lOpCode, 0);
  EXPECT_THROW(code.At(501), std::out_of_range);
  EXPECT_THROW(code.At(-1), std::out_of_range);
  for (int i = 1; i <= 501; ++i) code.AddInst(OP_MSGBOX, L"", L"", L"", L"");
  EXPECT_EQ(code.At(1000).lOpCode, 0);
  EXPECT_THROW(code.At(1001), std::out_of_range);
}
