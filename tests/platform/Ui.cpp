// The dialogs on standard input and error, not a terminal: one prompt line and one answer line each.
// (tests/scripts/core/dialogs_answer_from_stdin.vsl covers plain answers and the initial answer.)
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

TEST(ConsoleDialogs, AnswersLoseSpaceAndLineEndsAndTheEndOfInputSaysNo) {
  TestMachine m;
  auto ui = m.ConsoleUi("  YES \nmaybe\ny\r\n");
  std::vector<bool> answers;
  for (const wchar_t* q : {L"A?", L"B?", L"C?", L"D?"}) answers.push_back(ui->AskYesNo(q));
  EXPECT_EQ(answers, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(ui->AskString(L"Dir?", L"C:\\x"), L"C:\\x");
  ui->ShowMessage(L"Error ", L"Cannot open", platform::MessageIcon::Exclamation);
  auto status = ui->CreateStatusWindow(120, 240);
  status->SetRange(0, 10), status->Show(), status->SetValue(5);
  EXPECT_EQ(std::pair(status->IsCancelled(), status->Position()), std::pair(false, std::pair<int, int>{120, 240}));
  std::string expected;
  for (const char* line : {"Confirm: A? [y/N] ", "Confirm: B? [y/N] ", "Confirm: C? [y/N] ", "Confirm: D? [y/N] ",
                           "Question: Dir? [C:\\x] ", "Error : Cannot open"})
    expected += line + m.LineEnd();
  EXPECT_EQ(m.ConsoleOutput(), expected);
}
