// The dialogs on standard input and standard error, not on a terminal: one
// prompt line each, answers read one line each.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

namespace {

TEST(ConsoleDialogs, AskAndShowOneLineEach) {
  TestMachine m;
  auto ui = m.ConsoleUi("  YES \nn\ny\r\nmaybe\n\nJose\nany\n");
  EXPECT_TRUE(ui->AskYesNo(L"Install?"));
  EXPECT_FALSE(ui->AskYesNo(L"Again?"));
  EXPECT_TRUE(ui->AskYesNo(L"Third?"));
  EXPECT_FALSE(ui->AskYesNo(L"Fourth?"));
  EXPECT_EQ(ui->AskString(L"Name?", L"guest"), L"guest");  // an empty line keeps the initial answer
  EXPECT_EQ(ui->AskString(L"Name?", L"guest"), L"Jose");
  ui->AskOk(L"Setup", L"Done");
  ui->ShowMessage(L"Error ", L"Cannot open", platform::MessageIcon::Exclamation);
  {
    auto status = ui->CreateStatusWindow(120, 240);
    status->SetRange(0, 10);
    status->Show();
    status->SetValue(5);
    EXPECT_FALSE(status->IsCancelled());
    EXPECT_EQ(status->Position(), (std::pair<int, int>{120, 240}));
  }
  // At the end of the input: no, and the initial answer.
  EXPECT_FALSE(ui->AskYesNo(L"Last?"));
  EXPECT_EQ(ui->AskString(L"Dir?", L"C:\\x"), L"C:\\x");
  const std::string e = m.LineEnd();
  EXPECT_EQ(m.ConsoleOutput(), "Confirm: Install? [y/N] " + e + "Confirm: Again? [y/N] " + e + "Confirm: Third? [y/N] " +
                                   e + "Confirm: Fourth? [y/N] " + e + "Question: Name? [guest] " + e +
                                   "Question: Name? [guest] " + e + "Setup: Done [OK] " + e + "Error : Cannot open" + e +
                                   "Confirm: Last? [y/N] " + e + "Question: Dir? [C:\\x] " + e);
}

}  // namespace
