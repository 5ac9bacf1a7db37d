// The four forms as windows: their geometry for the designed twips, their
// controls, tab order and default button; closing a question by its frame;
// the status dialog's Cancel and position. (Keys and clicks from outside:
// tests/win32/dialogs.)
#include <gtest/gtest.h>

#include <cmath>

#include "platform/win32/Ui.h"

namespace {

using namespace win32;

class PlainForm : public Form {  // a form with no behaviour, to look at
 public:
  PlainForm(const FormDesign& design, int dpi) : Form(design, dpi, dpi) {}

 protected:
  void OnCommand(int) override {}
};

std::string TextOf(HWND hwnd) {
  char text[256] = {};
  ::GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

// Left, top, width and height in pixels; relative to the parent for a control.
std::vector<long> Box(HWND w, HWND parent) {
  RECT r{};
  ::GetWindowRect(w, &r);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

struct Control {
  int id;
  const char *className, *caption;
  std::vector<long> pixels;  // at 96 pixels per inch: the designed twips / 15
};

TEST(Win32Forms, EveryFormHasItsDesignedGeometryControlsAndTabOrder) {
  const struct {
    const FormDesign& design;
    const char* title;
    long width, height;
    std::vector<Control> controls;
    std::vector<int> tabOrder;
    int defaultButton;  // 0 for none
    bool closeBox;
  } forms[] = {
      {AskYesNoDesign(), "Confirm", 312, 104,
       {{kIdCommand1, "Button", "&Yes", {64, 72, 81, 25}}, {kIdCommand2, "Button", "&No", {152, 72, 81, 25}},
        {kIdAskText, "Static", "", {8, 8, 297, 49}}},
       {kIdCommand1, kIdCommand2}, kIdCommand1, true},
      {AskStringDesign(), "Question", 312, 123,
       {{kIdLblAskStr, "Static", "", {0, 0, 305, 49}}, {kIdText1, "Edit", "", {0, 56, 305, 25}},
        {kIdCommand1, "Button", "&OK", {112, 88, 81, 25}}},
       {kIdText1, kIdCommand1}, kIdCommand1, true},
      {AskOkDesign(), "", 312, 125,
       {{kIdAskText, "Static", "", {8, 8, 297, 65}}, {kIdBtOk, "Button", "&OK", {112, 88, 81, 25}}},
       {kIdBtOk}, kIdBtOk, true},
      {StatusDesign(), "Processing", 312, 87,
       {{kIdStatusProgressBar, "msctls_progress32", "", {8, 24, 297, 17}},
        {kIdBtCancel, "Button", "&Cancel", {112, 56, 81, 25}}},
       {kIdBtCancel}, 0, false},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.design.name);
    PlainForm form(f.design, 96);
    HWND d = form.Hwnd();
    EXPECT_EQ(TextOf(d), f.title);
    RECT client{};
    ::GetClientRect(d, &client);
    EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(f.width, f.height));
    for (const Control& c : f.controls) {
      HWND control = ::GetDlgItem(d, c.id);
      ASSERT_NE(control, nullptr) << c.id;
      EXPECT_EQ(Box(control, d), c.pixels) << c.caption;
      char cls[64] = {};
      ::GetClassNameA(control, cls, sizeof cls);
      EXPECT_STRCASEEQ(cls, c.className);
      EXPECT_EQ(TextOf(control), c.caption);
      if (std::string(c.className) == "Button") {
        EXPECT_EQ(::GetWindowLongA(control, GWL_STYLE) & 0xF,
                  c.id == f.defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      }
    }
    if (f.defaultButton != 0) {
      EXPECT_EQ(LOWORD(::SendMessageA(d, DM_GETDEFID, 0, 0)), f.defaultButton);
    }
    std::vector<int> order;  // until the tab order comes round again
    for (HWND c = ::GetNextDlgTabItem(d, nullptr, FALSE);
         c != nullptr && order.size() < 8 && (order.empty() || ::GetDlgCtrlID(c) != order.front());
         c = ::GetNextDlgTabItem(d, c, FALSE))
      order.push_back(::GetDlgCtrlID(c));
    EXPECT_EQ(order, f.tabOrder);
    EXPECT_EQ((::GetWindowLongA(d, GWL_STYLE) & WS_SYSMENU) != 0, f.closeBox);
    EXPECT_EQ(::GetParent(d), nullptr);
    EXPECT_FALSE(::IsWindowVisible(d));
  }
  // At 144 pixels per inch the twips are divided by 10, halves rounded up.
  PlainForm large(AskYesNoDesign(), 144);
  RECT client{};
  ::GetClientRect(large.Hwnd(), &client);
  EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(468L, 156L));
  EXPECT_EQ(Box(large.Control(kIdCommand2), large.Hwnd()), (std::vector<long>{228, 108, 122, 38}));
}

// The visible window of this thread with the given title.
BOOL CALLBACK MatchTitle(HWND hwnd, LPARAM p) {
  auto* s = reinterpret_cast<std::pair<std::string, HWND>*>(p);
  if (!::IsWindowVisible(hwnd) || TextOf(hwnd) != s->first) return TRUE;
  s->second = hwnd;
  return FALSE;
}

HWND FindOwnWindow(const std::string& title) {
  std::pair<std::string, HWND> search{title, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// Closes the "Confirm" dialog by its frame, or presses Yes, from a timer in
// the dialog's own message loop; notes where the dialog stood.
bool gPressYes = false;
RECT gShownAt{};

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindOwnWindow("Confirm");
  if (dialog == nullptr) return;
  ::KillTimer(nullptr, id);
  ::GetWindowRect(dialog, &gShownAt);
  if (gPressYes)
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kIdCommand1, BN_CLICKED), 0);
  else
    ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool Ask(Win32Ui& ui, bool pressYes) {
  gPressYes = pressYes;
  gShownAt = RECT{};
  ::SetTimer(nullptr, 0, 30, OnTimer);
  const bool answer = ui.AskYesNo(L"Install?");
  EXPECT_NE(gShownAt.right, 0) << "the dialog was never shown";
  return answer;
}

TEST(Win32Dialogs, AQuestionClosedByItsFrameAnswersNoAndStandsCentred) {
  Win32Ui ui;
  EXPECT_FALSE(Ask(ui, false));
  EXPECT_LE(std::abs((gShownAt.left + gShownAt.right) - ::GetSystemMetrics(SM_CXSCREEN)), 2);
  EXPECT_LE(std::abs((gShownAt.top + gShownAt.bottom) - ::GetSystemMetrics(SM_CYSCREEN)), 2);
  EXPECT_TRUE(Ask(ui, true));  // each question starts afresh
  EXPECT_FALSE(Ask(ui, false));
}

TEST(Win32Dialogs, CancelLeavesTheStatusDialogUpAndItsPositionIsRead) {
  Win32Ui ui;
  auto status = ui.CreateStatusWindow(1500, 1200);
  status->SetRange(0, 10);
  status->SetValue(3);
  status->Show();
  HWND d = FindOwnWindow("Processing");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(::SendMessageA(::GetDlgItem(d, kIdStatusProgressBar), PBM_GETPOS, 0, 0), 3);
  const std::vector<long> box = Box(d, nullptr);
  EXPECT_EQ(box[0], TwipsToPixels(1500, ui.DpiX()));
  EXPECT_EQ(box[1], TwipsToPixels(1200, ui.DpiY()));
  ::PostMessageA(d, WM_COMMAND, MAKEWPARAM(kIdBtCancel, BN_CLICKED), 0);
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
