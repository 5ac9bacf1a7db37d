// The dialogs on standard input and error, not a terminal: one prompt line and one answer line each.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

TEST(ConsoleDialogs, AskAndShowOneLineEach) {
  TestMachine m;
  auto ui = m.ConsoleUi("  YES \nn\ny\r\nmaybe\n\nJose\nany\n");
  // Answers without case or surrounding space; an empty line keeps the initial answer; at the end no, and that.
  EXPECT_EQ((std::vector<bool>{ui->AskYesNo(L"Install?"), ui->AskYesNo(L"Again?"), ui->AskYesNo(L"Third?"), ui->AskYesNo(L"Fourth?")}),
            (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ((std::vector<std::wstring>{ui->AskString(L"Name?", L"guest"), ui->AskString(L"Name?", L"guest")}),
            (std::vector<std::wstring>{L"guest", L"Jose"}));
  ui->AskOk(L"Setup", L"Done");
  ui->ShowMessage(L"Error ", L"Cannot open", platform::MessageIcon::Exclamation);
  {
    auto status = ui->CreateStatusWindow(120, 240);
    status->SetRange(0, 10), status->Show(), status->SetValue(5);
    EXPECT_FALSE(status->IsCancelled());
    EXPECT_EQ(status->Position(), (std::pair<int, int>{120, 240}));
  }
  EXPECT_FALSE(ui->AskYesNo(L"Last?"));
  EXPECT_EQ(ui->AskString(L"Dir?", L"C:\\x"), L"C:\\x");
  std::string expected;
  for (const char* line : {"Confirm: Install? [y/N] ", "Confirm: Again? [y/N] ", "Confirm: Third? [y/N] ", "Confirm: Fourth? [y/N] ",
                           "Question: Name? [guest] ", "Question: Name? [guest] ", "Setup: Done [OK] ", "Error : Cannot open",
                           "Confirm: Last? [y/N] ", "Question: Dir? [C:\\x] "})
    expected += line + m.LineEnd();
  EXPECT_EQ(m.ConsoleOutput(), expected);
}
