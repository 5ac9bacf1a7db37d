// The four forms as windows: their geometry in pixels for the designed
// twips, their controls and tab order, closing a question by its frame,
// and the status dialog's Cancel and position. (Enter, Tab and typing are
// pressed from outside by the tests in dialogs/.)
#include <gtest/gtest.h>

#include <cmath>
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

std::string TextOf(HWND hwnd) {
  char text[256] = {};
  ::GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

struct Expected {
  int id;
  const char* className;
  const char* caption;
  Rect pixels;  // at 96 pixels per inch: the designed twips divided by 15
};

struct ExpectedForm {
  const FormDesign& design;
  const char* title;
  Rect client;
  std::vector<Expected> controls;
  std::vector<int> tabOrder;  // the controls that take the focus, in order
  int defaultButton;          // pressed by Enter; 0 for none
  bool closeBox;
};

TEST(Win32Forms, EveryFormHasItsDesignedGeometryControlsAndTabOrder) {
  using namespace win32;
  const ExpectedForm forms[] = {
      {AskYesNoDesign(), "Confirm", {0, 0, 312, 104},
       {{kIdCommand1, "Button", "&Yes", {64, 72, 81, 25}},
        {kIdCommand2, "Button", "&No", {152, 72, 81, 25}},
        {kIdAskText, "Static", "", {8, 8, 297, 49}}},
       {kIdCommand1, kIdCommand2}, kIdCommand1, true},
      {AskStringDesign(), "Question", {0, 0, 312, 123},
       {{kIdLblAskStr, "Static", "", {0, 0, 305, 49}},
        {kIdText1, "Edit", "", {0, 56, 305, 25}},
        {kIdCommand1, "Button", "&OK", {112, 88, 81, 25}}},
       {kIdText1, kIdCommand1}, kIdCommand1, true},
      {AskOkDesign(), "", {0, 0, 312, 125},
       {{kIdAskText, "Static", "", {8, 8, 297, 65}}, {kIdBtOk, "Button", "&OK", {112, 88, 81, 25}}},
       {kIdBtOk}, kIdBtOk, true},
      {StatusDesign(), "Processing", {0, 0, 312, 87},
       {{kIdStatusProgressBar, "msctls_progress32", "", {8, 24, 297, 17}},
        {kIdBtCancel, "Button", "&Cancel", {112, 56, 81, 25}}},
       {kIdBtCancel}, 0, false},
  };
  for (const ExpectedForm& f : forms) {
    SCOPED_TRACE(f.design.name);
    PlainForm form(f.design, 96);
    HWND d = form.Hwnd();
    EXPECT_EQ(TextOf(d), f.title);
    RECT client{};
    ::GetClientRect(d, &client);
    EXPECT_EQ((Rect{0, 0, client.right, client.bottom}), f.client);
    for (const Expected& c : f.controls) {
      HWND control = ::GetDlgItem(d, c.id);
      ASSERT_NE(control, nullptr) << c.id;
      RECT r{};
      ::GetWindowRect(control, &r);
      ::MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
      EXPECT_EQ((Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}), c.pixels) << c.caption;
      char cls[64] = {};
      ::GetClassNameA(control, cls, sizeof cls);
      EXPECT_STRCASEEQ(cls, c.className);
      EXPECT_EQ(TextOf(control), c.caption);
      if (std::string(c.className) == "Button") {
        EXPECT_EQ(::GetWindowLongA(control, GWL_STYLE) & 0xF, c.id == f.defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      }
    }
    if (f.defaultButton != 0) {
      EXPECT_EQ(LOWORD(::SendMessageA(d, DM_GETDEFID, 0, 0)), f.defaultButton);
    }
    std::vector<int> order;
    for (HWND c = ::GetNextDlgTabItem(d, nullptr, FALSE); c != nullptr && order.size() < 8;
         c = ::GetNextDlgTabItem(d, c, FALSE)) {
      if (!order.empty() && ::GetDlgCtrlID(c) == order.front()) break;
      order.push_back(::GetDlgCtrlID(c));
    }
    EXPECT_EQ(order, f.tabOrder);
    EXPECT_EQ((::GetWindowLongA(d, GWL_STYLE) & WS_SYSMENU) != 0, f.closeBox);
    EXPECT_EQ(::GetParent(d), nullptr);
    EXPECT_FALSE(::IsWindowVisible(d));
  }
  // At 144 pixels per inch the twips are divided by 10, halves rounded up.
  PlainForm large(AskYesNoDesign(), 144);
  RECT client{};
  ::GetClientRect(large.Hwnd(), &client);
  EXPECT_EQ(client.right, 468);
  EXPECT_EQ(client.bottom, 156);
  RECT r{};
  ::GetWindowRect(large.Control(kIdCommand2), &r);
  EXPECT_EQ(r.right - r.left, 122);
  EXPECT_EQ(r.bottom - r.top, 38);
}

// ---- The dialogs at work --------------------------------------------------------

// The visible top-level window of this thread with the given title.
struct WindowSearch {
  std::string title;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTitle(HWND hwnd, LPARAM p) {
  auto* s = reinterpret_cast<WindowSearch*>(p);
  if (!::IsWindowVisible(hwnd) || TextOf(hwnd) != s->title) return TRUE;
  s->found = hwnd;
  return FALSE;
}

HWND FindOwnWindow(const std::string& title) {
  WindowSearch search{title};
  ::EnumThreadWindows(::GetCurrentThreadId(), MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Closes the "Confirm" dialog by its frame, or presses Yes, from a timer
// that fires in the dialog's own message loop; notes where it stood.
bool gPressYes = false;
bool gActed = false;
RECT gShownAt{};

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindOwnWindow("Confirm");
  if (dialog == nullptr) return;
  ::KillTimer(nullptr, id);
  gActed = true;
  ::GetWindowRect(dialog, &gShownAt);
  if (gPressYes)
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(win32::kIdCommand1, BN_CLICKED), 0);
  else
    ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool Ask(win32::Win32Ui& ui, bool pressYes) {
  gPressYes = pressYes;
  gActed = false;
  ::SetTimer(nullptr, 0, 30, OnTimer);
  const bool answer = ui.AskYesNo(L"Install?");
  EXPECT_TRUE(gActed) << "the dialog was never shown";
  return answer;
}

TEST(Win32Dialogs, AQuestionClosedByItsFrameAnswersNoAndStandsCentred) {
  win32::Win32Ui ui;
  EXPECT_FALSE(Ask(ui, false));
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  EXPECT_LE(std::abs((gShownAt.left + gShownAt.right) - screenWidth), 2);
  EXPECT_LE(std::abs((gShownAt.top + gShownAt.bottom) - screenHeight), 2);
  // Each question starts afresh.
  EXPECT_TRUE(Ask(ui, true));
  EXPECT_FALSE(Ask(ui, false));
}

TEST(Win32Dialogs, CancelLeavesTheStatusDialogUpAndItsPositionIsRead) {
  win32::Win32Ui ui;
  auto status = ui.CreateStatusWindow(1500, 1200);
  status->SetRange(0, 10);
  status->SetValue(3);
  status->Show();
  HWND d = FindOwnWindow("Processing");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(::SendMessageA(::GetDlgItem(d, win32::kIdStatusProgressBar), PBM_GETPOS, 0, 0), 3);
  RECT r{};
  ::GetWindowRect(d, &r);
  EXPECT_EQ(r.left, win32::TwipsToPixels(1500, ui.DpiX()));
  EXPECT_EQ(r.top, win32::TwipsToPixels(1200, ui.DpiY()));
  ::PostMessageA(d, WM_COMMAND, MAKEWPARAM(win32::kIdBtCancel, BN_CLICKED), 0);
  EXPECT_FALSE(status->IsCancelled());  // noticed only when messages flow
  ui.PumpMessages();
  EXPECT_TRUE(status->IsCancelled());
  EXPECT_TRUE(::IsWindowVisible(d));
  status->SetStatusText(L"Running Instruction 1 of 3");
  EXPECT_EQ(TextOf(d), "Processing");
  // Moved by the user, it reports where it stands now, in twips.
  ::SetWindowPos(d, nullptr, 200, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_EQ(status->Position(), std::make_pair(static_cast<int>(std::lround(200 * 1440.0 / ui.DpiX())),
                                               static_cast<int>(std::lround(100 * 1440.0 / ui.DpiY()))));
  status.reset();
  EXPECT_FALSE(::IsWindow(d));
}

}  // namespace
