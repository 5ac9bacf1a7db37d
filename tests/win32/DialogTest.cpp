// The four forms as windows: their geometry in pixels for the designed
// twips, their controls, keyboard and buttons, centring and the status
// dialog's Cancel and position. Keys are posted to the dialogs from a timer
// that fires inside their message loops.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/Ui.h"

namespace {

using win32::Form;
using win32::FormDesign;

// A form with no behaviour of its own, to look at.
class PlainForm : public Form {
 public:
  PlainForm(const FormDesign& design, int dpi) : Form(design, dpi, dpi) {}

 protected:
  void OnCommand(int) override {}
};

struct Rect {
  int left, top, width, height;
  bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << "(" << r.left << ", " << r.top << ", " << r.width << ", " << r.height << ")";
}

Rect ClientRect(HWND hwnd) {
  RECT r{};
  ::GetClientRect(hwnd, &r);
  return {0, 0, r.right, r.bottom};
}

Rect ControlRect(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  RECT r{};
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::string ClassOf(HWND dialog, int id) {
  char name[64] = {};
  ::GetClassNameA(::GetDlgItem(dialog, id), name, sizeof name);
  return name;
}

std::string TextOf(HWND hwnd) {
  char text[256] = {};
  ::GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

// The identifiers in tab order, starting from the first control that takes
// the focus.
std::vector<int> TabOrder(HWND dialog) {
  std::vector<int> ids;
  HWND first = ::GetNextDlgTabItem(dialog, nullptr, FALSE);
  HWND c = first;
  while (c != nullptr) {
    ids.push_back(::GetDlgCtrlID(c));
    c = ::GetNextDlgTabItem(dialog, c, FALSE);
    if (c == first) break;
  }
  return ids;
}

// The designed numbers at 96 pixels per inch are the twips divided by 15,
// and at 144 by 10, halves rounded away from zero.
TEST(Win32Forms, TheYesNoQuestionHasItsDesignedGeometry) {
  PlainForm form(win32::AskYesNoDesign(), 96);
  HWND d = form.Hwnd();
  EXPECT_EQ(TextOf(d), "Confirm");
  EXPECT_EQ(ClientRect(d), (Rect{0, 0, 312, 104}));
  EXPECT_EQ(ControlRect(d, win32::kIdCommand1), (Rect{64, 72, 81, 25}));
  EXPECT_EQ(ControlRect(d, win32::kIdCommand2), (Rect{152, 72, 81, 25}));
  EXPECT_EQ(ControlRect(d, win32::kIdAskText), (Rect{8, 8, 297, 49}));
  EXPECT_EQ(TextOf(form.Control(win32::kIdCommand1)), "&Yes");
  EXPECT_EQ(TextOf(form.Control(win32::kIdCommand2)), "&No");
  EXPECT_EQ(ClassOf(d, win32::kIdAskText), "Static");
  EXPECT_EQ(::GetWindowLongA(form.Control(win32::kIdCommand1), GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON);
  EXPECT_EQ(::GetWindowLongA(form.Control(win32::kIdCommand2), GWL_STYLE) & 0xF, BS_PUSHBUTTON);
  EXPECT_EQ(TabOrder(d), (std::vector<int>{win32::kIdCommand1, win32::kIdCommand2}));
  EXPECT_NE(::GetWindowLongA(d, GWL_STYLE) & WS_SYSMENU, 0);
  EXPECT_EQ(::GetParent(d), nullptr);
  EXPECT_FALSE(::IsWindowVisible(d));

  PlainForm large(win32::AskYesNoDesign(), 144);
  EXPECT_EQ(ClientRect(large.Hwnd()), (Rect{0, 0, 468, 156}));
  EXPECT_EQ(ControlRect(large.Hwnd(), win32::kIdCommand2), (Rect{228, 108, 122, 38}));
}

TEST(Win32Forms, TheStringQuestionHasItsDesignedGeometry) {
  PlainForm form(win32::AskStringDesign(), 96);
  HWND d = form.Hwnd();
  EXPECT_EQ(TextOf(d), "Question");
  EXPECT_EQ(ClientRect(d), (Rect{0, 0, 312, 123}));
  EXPECT_EQ(ControlRect(d, win32::kIdLblAskStr), (Rect{0, 0, 305, 49}));
  EXPECT_EQ(ControlRect(d, win32::kIdText1), (Rect{0, 56, 305, 25}));
  EXPECT_EQ(ControlRect(d, win32::kIdCommand1), (Rect{112, 88, 81, 25}));
  EXPECT_EQ(ClassOf(d, win32::kIdText1), "Edit");
  EXPECT_EQ(TextOf(form.Control(win32::kIdCommand1)), "&OK");
  EXPECT_EQ(::GetWindowLongA(form.Control(win32::kIdCommand1), GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON);
  EXPECT_EQ(TabOrder(d), (std::vector<int>{win32::kIdText1, win32::kIdCommand1}));
}

TEST(Win32Forms, TheOkMessageHasItsDesignedGeometry) {
  PlainForm form(win32::AskOkDesign(), 96);
  HWND d = form.Hwnd();
  EXPECT_EQ(TextOf(d), "");
  EXPECT_EQ(ClientRect(d), (Rect{0, 0, 312, 125}));
  EXPECT_EQ(ControlRect(d, win32::kIdAskText), (Rect{8, 8, 297, 65}));
  EXPECT_EQ(ControlRect(d, win32::kIdBtOk), (Rect{112, 88, 81, 25}));
  EXPECT_EQ(TextOf(form.Control(win32::kIdBtOk)), "&OK");
  EXPECT_EQ(TabOrder(d), (std::vector<int>{win32::kIdBtOk}));
}

TEST(Win32Forms, TheStatusDialogHasItsDesignedGeometry) {
  PlainForm form(win32::StatusDesign(), 96);
  HWND d = form.Hwnd();
  EXPECT_EQ(TextOf(d), "Processing");
  EXPECT_EQ(ClientRect(d), (Rect{0, 0, 312, 87}));
  EXPECT_EQ(ControlRect(d, win32::kIdStatusProgressBar), (Rect{8, 24, 297, 17}));
  EXPECT_EQ(ControlRect(d, win32::kIdBtCancel), (Rect{112, 56, 81, 25}));
  EXPECT_EQ(ClassOf(d, win32::kIdStatusProgressBar), "msctls_progress32");
  EXPECT_EQ(TextOf(form.Control(win32::kIdBtCancel)), "&Cancel");
  EXPECT_EQ(::GetWindowLongA(d, GWL_STYLE) & WS_SYSMENU, 0);
  EXPECT_EQ(TabOrder(d), (std::vector<int>{win32::kIdBtCancel}));
}

TEST(Win32Forms, TwipsBecomePixelsForTheScreensDpi) {
  EXPECT_EQ(win32::TwipsToPixels(1440, 96), 96);
  EXPECT_EQ(win32::TwipsToPixels(1215, 120), 101);  // 101.25
  EXPECT_EQ(win32::TwipsToPixels(375, 96), 25);
  EXPECT_EQ(win32::TwipsToPixels(-150, 96), -10);
  EXPECT_DOUBLE_EQ(win32::PixelsToTwips(356, 96), 5340);
}

// ---- The dialogs at work --------------------------------------------------------

// The visible top-level window of this thread with the given title.
HWND FindOwnWindow(const std::string& title) {
  struct Search {
    std::string title;
    HWND found = nullptr;
  } search{title};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (::IsWindowVisible(hwnd) && TextOf(hwnd) == s->title) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Runs `act` on the dialog with the title once it is shown, from a timer
// that fires in the dialog's own message loop.
std::function<void(HWND)> gAct;
std::string gTitle;
bool gActed = false;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindOwnWindow(gTitle);
  if (dialog == nullptr || gActed) return;
  gActed = true;
  ::KillTimer(nullptr, id);
  gAct(dialog);
}

void WhenShown(const std::string& title, std::function<void(HWND)> act) {
  gTitle = title;
  gAct = std::move(act);
  gActed = false;
  ::SetTimer(nullptr, 0, 30, OnTimer);
}

void PostKey(UINT key) {
  HWND focus = ::GetFocus();
  ::PostMessageA(focus, WM_KEYDOWN, key, 1);
  ::PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

class Win32DialogTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(gActed) << "the dialog was never shown"; }
  win32::Win32Ui ui_;
};

TEST_F(Win32DialogTest, EnterAnswersYesAndTheQuestionIsShownCentred) {
  std::string label;
  RECT at{};
  WhenShown("Confirm", [&](HWND d) {
    label = TextOf(::GetDlgItem(d, win32::kIdAskText));
    ::GetWindowRect(d, &at);
    PostKey(VK_RETURN);
  });
  EXPECT_TRUE(ui_.AskYesNo(L"Install the sample files?"));
  EXPECT_EQ(label, "Install the sample files?");
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  EXPECT_LE(std::abs((at.left + at.right) - screenWidth), 2);
  EXPECT_LE(std::abs((at.top + at.bottom) - screenHeight), 2);
}

TEST_F(Win32DialogTest, TabThenEnterAnswersNo) {
  WhenShown("Confirm", [](HWND) {
    PostKey(VK_TAB);
    PostKey(VK_RETURN);
  });
  EXPECT_FALSE(ui_.AskYesNo(L"Really?"));
}

TEST_F(Win32DialogTest, ClosingTheQuestionByItsFrameAnswersNo) {
  WhenShown("Confirm", [](HWND d) { ::PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); });
  EXPECT_FALSE(ui_.AskYesNo(L"Close me"));
  // A second question starts afresh.
  WhenShown("Confirm", [](HWND d) { ::PostMessageA(d, WM_COMMAND, MAKEWPARAM(win32::kIdCommand1, BN_CLICKED), 0); });
  EXPECT_TRUE(ui_.AskYesNo(L"Again"));
}

TEST_F(Win32DialogTest, TheAnswerBoxStartsWithTheInitialText) {
  WhenShown("Question", [](HWND) { PostKey(VK_RETURN); });
  EXPECT_EQ(ui_.AskString(L"Where?", L"C:\\app"), L"C:\\app");
  std::string prompt;
  WhenShown("Question", [&](HWND d) {
    prompt = TextOf(::GetDlgItem(d, win32::kIdLblAskStr));
    ::SetWindowTextA(::GetDlgItem(d, win32::kIdText1), "D:\\Programs");
    PostKey(VK_RETURN);
  });
  EXPECT_EQ(ui_.AskString(L"Where now?", L""), L"D:\\Programs");
  EXPECT_EQ(prompt, "Where now?");
}

TEST_F(Win32DialogTest, TheOkMessageCarriesItsTitleAndText) {
  std::string text;
  WhenShown("Setup", [&](HWND d) {
    text = TextOf(::GetDlgItem(d, win32::kIdAskText));
    PostKey(VK_RETURN);
  });
  ui_.AskOk(L"Setup", L"Ready");
  EXPECT_EQ(text, "Ready");
}

TEST_F(Win32DialogTest, CancelLeavesTheStatusDialogUpAndItsPositionIsRead) {
  gActed = true;
  auto status = ui_.CreateStatusWindow(1500, 1200);
  status->SetRange(0, 10);
  status->SetValue(3);
  status->Show();
  HWND d = FindOwnWindow("Processing");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(::SendMessageA(::GetDlgItem(d, win32::kIdStatusProgressBar), PBM_GETPOS, 0, 0), 3);
  const int dpiX = ui_.DpiX(), dpiY = ui_.DpiY();
  EXPECT_EQ(status->Position(), std::make_pair(static_cast<int>(std::lround(win32::PixelsToTwips(
                                                   win32::TwipsToPixels(1500, dpiX), dpiX))),
                                               static_cast<int>(std::lround(win32::PixelsToTwips(
                                                   win32::TwipsToPixels(1200, dpiY), dpiY)))));
  EXPECT_FALSE(status->IsCancelled());
  ::PostMessageA(d, WM_COMMAND, MAKEWPARAM(win32::kIdBtCancel, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(d, win32::kIdBtCancel)));
  EXPECT_FALSE(status->IsCancelled());  // noticed only when messages flow
  ui_.PumpMessages();
  EXPECT_TRUE(status->IsCancelled());
  EXPECT_TRUE(::IsWindowVisible(d));
  status->SetStatusText(L"Running Instruction 1 of 3");
  EXPECT_EQ(TextOf(d), "Processing");
  // Moved by the user, it reports where it stands now.
  ::SetWindowPos(d, nullptr, 200, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_EQ(status->Position(), std::make_pair(static_cast<int>(std::lround(200 * 1440.0 / dpiX)),
                                               static_cast<int>(std::lround(100 * 1440.0 / dpiY))));
  status.reset();
  EXPECT_FALSE(::IsWindow(d));
}

TEST_F(Win32DialogTest, EscapePressesCancel) {
  gActed = true;
  auto status = ui_.CreateStatusWindow(0, 0);
  status->Show();
  HWND d = FindOwnWindow("Processing");
  ASSERT_NE(d, nullptr);
  HWND cancel = ::GetDlgItem(d, win32::kIdBtCancel);
  ::PostMessageA(cancel, WM_KEYDOWN, VK_ESCAPE, 1);
  ui_.PumpMessages();
  EXPECT_TRUE(status->IsCancelled());
}

}  // namespace
