// The terminal dialogs off a terminal: notices go to standard error, the
// status window draws nothing, and the screen is a common one.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

namespace {

TEST(TerminalDialogs, NoticesAreLinesAndTheStatusWindowStaysQuiet) {
  TestMachine m;
  auto ui = m.ConsoleUi("");
  {
    auto status = ui->CreateStatusWindow(0, 0);
    status->SetRange(0, 10);
    status->Show();
    status->SetValue(5);
    status->SetStatusText(L"Copying");
  }
  ui->ShowNotice(L"Stopped: caf\u00e9");
  ui->ShowMessage(L"T", L"\u20ac", platform::MessageIcon::None);
  EXPECT_EQ(m.ConsoleOutput(), "Stopped: caf\xC3\xA9\nT: \xE2\x82\xAC\n");
  EXPECT_EQ(ui->ScreenSize(), (std::pair<double, double>{1920.0 * 15, 1080.0 * 15}));
}

}  // namespace
