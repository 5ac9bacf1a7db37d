// Running the instruction list with the status dialog: its steps, Exit, Cancel, the silent end on a failure.
#include "Doubles.h"
#include "codegen/CCodeGen.h"
#include "driver/MainModule.h"
#include "forms/Forms.h"

using namespace OPCODES;

using End = CCodeGen::RunEnd;
using Insts = std::vector<std::pair<int, std::wstring>>;

// Loading the form sets 0..100 three times; the run sets 0..n+1, shows the dialog, sets value and text per step.
static std::string Calls(int n, int steps, bool lastText = true) {
  std::string s = "range 0 100,range 0 100,range 0 100,range 0 " + std::to_string(n + 1) + ",show";
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
    const int room = code.UpperBound();
    for (const auto& [op, p1] : c.insts) code.AddInst(op, p1, L"v", L"abc", L"");
    EXPECT_EQ(code.UpperBound(), room);  // a short list fits without growing
    frmStatusDlg status(FormPosition{});
    EXPECT_EQ(code.Execute(&status), 0);
    const FormPosition at = status.Unload();
    std::string calls;
    for (const auto& s : ui.status.calls) calls += (calls.empty() ? "" : ",") + s;
    std::wstring shown;
    for (const auto& s : ui.shown) shown += s.substr(s.find(L": ") + 2) + L";";
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(shown, c.shown) << c.calls;
    EXPECT_EQ(ui.pumps, c.pumps) << c.calls;
    EXPECT_EQ(code.LastRunEnd(), c.end) << c.calls;
    EXPECT_TRUE(ui.status.closed && at.left == 1234 && at.top == 567);  // closed where it was
  }
}

// The status dialog is centred 200 twips above the middle; halves round to even.
TEST(Executor, StatusPosition) {
  const struct { double w, h, dw, dh; std::int32_t left, top; } cases[] = {
      {19200, 14400, 4800, 1800, 7200, 6100}, {1001, 1401, 0, 0, 500, 500}, {1003, 1403, 0, 0, 502, 502}};
  for (const auto& c : cases) {
    std::int32_t left = 0, top = 0;
    MainModule::ComputeStatusPosition(c.w, c.h, c.dw, c.dh, left, top);
    EXPECT_EQ(left, c.left) << c.w;
    EXPECT_EQ(top, c.top) << c.w;
  }
}
