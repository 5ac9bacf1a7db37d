// The terminal dialogs: what they write and how they read answers, with
// pipes standing in for standard input and standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/posix/Ui.h"

namespace {

class TerminalUiTest : public ::testing::Test {
 protected:
  TerminalUiTest() {
    EXPECT_EQ(::pipe(in_), 0);
    EXPECT_EQ(::pipe(err_), 0);
  }
  ~TerminalUiTest() override {
    for (int fd : {in_[0], in_[1], err_[0], err_[1]})
      if (fd >= 0) ::close(fd);
  }
  void Feed(const std::string& s) { ASSERT_EQ(::write(in_[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  void EndInput() {
    ::close(in_[1]);
    in_[1] = -1;
  }
  std::string Written() {
    ::close(err_[1]);
    err_[1] = -1;
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(err_[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    return out;
  }
  int in_[2]{-1, -1};
  int err_[2]{-1, -1};
};

TEST_F(TerminalUiTest, YesNoAcceptsYAndYesInAnyCase) {
  Feed("  YES \nn\ny\r\nmaybe\n");
  EndInput();
  posix::PosixUi ui(in_[0], err_[1]);
  EXPECT_TRUE(ui.AskYesNo(L"Install?"));
  EXPECT_FALSE(ui.AskYesNo(L"Again?"));
  EXPECT_TRUE(ui.AskYesNo(L"Third?"));
  EXPECT_FALSE(ui.AskYesNo(L"Fourth?"));
  EXPECT_FALSE(ui.AskYesNo(L"At the end of input?"));
  EXPECT_EQ(Written(),
            "Confirm: Install? [y/N] \nConfirm: Again? [y/N] \nConfirm: Third? [y/N] \n"
            "Confirm: Fourth? [y/N] \nConfirm: At the end of input? [y/N] \n");
}

TEST_F(TerminalUiTest, AskStringKeepsTheInitialAnswerOnAnEmptyLine) {
  Feed("\nJos\xC3\xA9\n");
  EndInput();
  posix::PosixUi ui(in_[0], err_[1]);
  EXPECT_EQ(ui.AskString(L"Name?", L"guest"), L"guest");
  EXPECT_EQ(ui.AskString(L"Name?", L"guest"), L"Jos\u00e9");
  EXPECT_EQ(ui.AskString(L"Dir?", L"C:\\x"), L"C:\\x");
  EXPECT_EQ(Written(), "Question: Name? [guest] \nQuestion: Name? [guest] \nQuestion: Dir? [C:\\x] \n");
}

TEST_F(TerminalUiTest, MessagesAndOkDialogs) {
  Feed("anything\n");
  EndInput();
  posix::PosixUi ui(in_[0], err_[1]);
  ui.ShowMessage(L"Varnel Script Language", L"Line 2: Expecting =", platform::MessageIcon::None);
  ui.AskOk(L"Setup", L"Done");
  ui.AskOk(L"Varnel Script Language", L"Untitled");
  ui.ShowMessage(L"Error ", L"Cannot open", platform::MessageIcon::Exclamation);
  EXPECT_EQ(Written(),
            "Varnel Script Language: Line 2: Expecting =\nSetup: Done [OK] \n"
            "Varnel Script Language: Untitled [OK] \nError : Cannot open\n");
}

TEST_F(TerminalUiTest, TheStatusWindowDrawsNothingOffATerminal) {
  EndInput();
  posix::PosixUi ui(in_[0], err_[1]);
  {
    auto status = ui.CreateStatusWindow(0, 0);
    status->SetRange(0, 10);
    status->Show();
    status->SetValue(5);
    EXPECT_FALSE(status->IsCancelled());
    EXPECT_EQ(status->Position(), (std::pair<int, int>{0, 0}));
  }
  EXPECT_EQ(Written(), "");
}

}  // namespace
