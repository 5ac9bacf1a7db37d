// The terminal dialogs' status window: a progress line on standard error while it is a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "platform/posix/Support.h"
#include "platform/posix/Ui.h"

// The line redrawn as the value moves (not when it stays), erased around a message and when the window
// closes. The terminal turns a line end into CR LF.
TEST(PosixUi, TheStatusWindowIsAProgressLineOnATerminal) {
  int master = -1, terminal = -1;
  ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  posix::Fd out(master), err(terminal), in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  {
    posix::PosixUi ui(in.Get(), err.Get());
    auto status = ui.CreateStatusWindow(0, 0);
    status->SetRange(0, 4);
    status->Show();
    status->SetValue(2);
    status->SetValue(2);
    ui.ShowMessage(L"T", L"hi", platform::MessageIcon::None);
  }
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  std::string shown;
  char buf[512];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) shown.append(buf, static_cast<std::size_t>(n));
  const std::string none = "\rProcessing [" + std::string(30, ' ') + "] 0%  (Ctrl-C cancels)";
  const std::string half = "\rProcessing [" + std::string(15, '#') + std::string(15, ' ') + "] 50%  (Ctrl-C cancels)";
  EXPECT_EQ(shown, none + half + "\r\033[KT: hi\r\n" + half + "\r\033[K");
}
