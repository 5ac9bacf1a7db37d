// The four forms as windows: their geometry for the designed twips, their
// controls, tab order and default button; closing a question by its frame;
// the status dialog's Cancel and position. (Keys and clicks from outside:
// tests/win32/dialogs.)
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

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

// A form as text: title, client size, close box; each control in creation
// order (id, class, caption, box, push or default button); the controls in
// tab order; the button Enter presses.
std::string Describe(HWND d) {
  RECT client{};
  ::GetClientRect(d, &client);
  std::ostringstream s;
  s << "'" << TextOf(d) << "' " << client.right << "x" << client.bottom
    << ((::GetWindowLongA(d, GWL_STYLE) & WS_SYSMENU) != 0 ? " close" : "");
  for (HWND c = ::GetWindow(d, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
    char cls[64] = {};
    ::GetClassNameA(c, cls, sizeof cls);
    const std::vector<long> b = Box(c, d);
    s << "\n" << ::GetDlgCtrlID(c) << " " << cls << " '" << TextOf(c) << "' " << b[0] << "," << b[1] << " " << b[2]
      << "x" << b[3];
    const LONG style = ::GetWindowLongA(c, GWL_STYLE) & 0xF;
    if (std::string(cls) == "Button")
      s << (style == BS_DEFPUSHBUTTON ? " default" : style == BS_PUSHBUTTON ? " push" : " ?");
  }
  s << "\ntab";
  std::vector<int> order;  // until the tab order comes round again
  for (HWND c = ::GetNextDlgTabItem(d, nullptr, FALSE);
       c != nullptr && order.size() < 8 && (order.empty() || ::GetDlgCtrlID(c) != order.front());
       c = ::GetNextDlgTabItem(d, c, FALSE))
    order.push_back(::GetDlgCtrlID(c));
  for (int id : order) s << " " << id;
  const LRESULT def = ::SendMessageA(d, DM_GETDEFID, 0, 0);
  s << "\nenter " << (HIWORD(def) == DC_HASDEFID && ::GetDlgItem(d, LOWORD(def)) != nullptr ? LOWORD(def) : 0);
  return s.str();
}

TEST(Win32Forms, EveryFormHasItsDesignedGeometryControlsAndTabOrder) {
  // At 96 pixels per inch: the designed twips divided by 15.
  const std::pair<const FormDesign&, const char*> forms[] = {
      {AskYesNoDesign(),
       "'Confirm' 312x104 close\n101 Button '&Yes' 64,72 81x25 default\n102 Button '&No' 152,72 81x25 push\n"
       "103 Static '' 8,8 297x49\ntab 101 102\nenter 101"},
      {AskStringDesign(),
       "'Question' 312x123 close\n104 Static '' 0,0 305x49\n105 Edit '' 0,56 305x25\n"
       "101 Button '&OK' 112,88 81x25 default\ntab 105 101\nenter 101"},
      {AskOkDesign(),
       "'' 312x125 close\n103 Static '' 8,8 297x65\n106 Button '&OK' 112,88 81x25 default\ntab 106\nenter 106"},
      {StatusDesign(),
       "'Processing' 312x87\n107 msctls_progress32 '' 8,24 297x17\n2 Button '&Cancel' 112,56 81x25 push\ntab 2\n"
       "enter 0"},
  };
  for (const auto& [design, expected] : forms) {
    PlainForm form(design, 96);
    EXPECT_EQ(Describe(form.Hwnd()), expected);
    EXPECT_EQ(::GetParent(form.Hwnd()), nullptr);
    EXPECT_FALSE(::IsWindowVisible(form.Hwnd()));
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
