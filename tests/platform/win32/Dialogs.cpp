// The forms as windows; a question closed by its frame; the status dialog (keys and clicks: tests/win32/dialogs).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "platform/win32/Ui.h"

namespace {

using namespace win32;

struct PlainForm : Form {  // a form with no behaviour, to look at
  PlainForm(const FormDesign& design, int dpi) : Form(design, dpi, dpi) {}
  void OnCommand(int) override {}
};

std::string TextOf(HWND hwnd) {
  char text[256] = {};
  return std::string(text, ::GetWindowTextA(hwnd, text, sizeof text));
}

// Left, top, width and height in pixels; relative to the parent for a control.
std::vector<long> Box(HWND w, HWND parent) {
  RECT r{};
  ::GetWindowRect(w, &r);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// A form as text: title, client size, close box; controls (id, class, caption, box, kind); tab order; Enter.
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
    const LONG style = ::GetWindowLongA(c, GWL_STYLE) & 0xF;
    const char* kind = style == BS_DEFPUSHBUTTON ? " default" : style == BS_PUSHBUTTON ? " push" : " ?";
    s << "\n" << ::GetDlgCtrlID(c) << " " << cls << " '" << TextOf(c) << "' " << b[0] << "," << b[1] << " " << b[2]
      << "x" << b[3] << (std::string(cls) == "Button" ? kind : "");
  }
  s << "\ntab";
  HWND first = ::GetNextDlgTabItem(d, nullptr, FALSE), c = first;
  for (int n = 0; c != nullptr && n < 8 && (n == 0 || c != first); ++n, c = ::GetNextDlgTabItem(d, c, FALSE))
    s << " " << ::GetDlgCtrlID(c);  // until the tab order comes round again
  const LRESULT def = ::SendMessageA(d, DM_GETDEFID, 0, 0);
  s << "\nenter " << (HIWORD(def) == DC_HASDEFID && ::GetDlgItem(d, LOWORD(def)) != nullptr ? LOWORD(def) : 0);
  return s.str();
}

TEST(Win32DialogForms, EveryFormHasItsDesignedGeometryControlsAndTabOrder) {
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
  EXPECT_EQ(Describe(large.Hwnd()).substr(0, 18), "'Confirm' 468x156 ");
  EXPECT_EQ(Box(large.Control(kIdCommand2), large.Hwnd()), (std::vector<long>{228, 108, 122, 38}));
}

// The visible window with that title (the dialog tests hold the screen alone).
HWND Shown(const char* title) {
  HWND w = ::FindWindowA(nullptr, title);
  return w != nullptr && ::IsWindowVisible(w) ? w : nullptr;
}

// From a timer in the dialog's message loop: notes where "Confirm" stands, then presses Yes or closes it.
bool gPressYes = false;
RECT gShownAt{};

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = Shown("Confirm");
  if (dialog == nullptr) return;
  ::KillTimer(nullptr, id);
  ::GetWindowRect(dialog, &gShownAt);
  if (gPressYes) ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kIdCommand1, BN_CLICKED), 0);
  else ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
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
  HWND d = Shown("Processing");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(::SendMessageA(::GetDlgItem(d, kIdStatusProgressBar), PBM_GETPOS, 0, 0), 3);
  EXPECT_EQ(Box(d, nullptr)[0], TwipsToPixels(1500, ui.DpiX()));
  EXPECT_EQ(Box(d, nullptr)[1], TwipsToPixels(1200, ui.DpiY()));
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
