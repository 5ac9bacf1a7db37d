#include "platform/win32/Ui.h"


#include <cmath>
#include <cstdlib>

namespace win32 {

namespace {

const char* const kFormClass = "VslForm";

// ---- The designs, in twips ------------------------------------------------------

const FormDesign kAskYesNo{
    "frmAskYesNo", "Confirm", 4680, 1560, true,
    {
        {"Command1", kIdCommand1, ControlKind::DefaultButton, "&Yes", 960, 1080, 1215, 375},
        {"Command2", kIdCommand2, ControlKind::Button, "&No", 2280, 1080, 1215, 375},
        {"AskText", kIdAskText, ControlKind::Label, "", 120, 120, 4455, 735},
    }};

const FormDesign kAskString{
    "frmAskString", "Question", 4680, 1845, true,
    {
        {"lblAskStr", kIdLblAskStr, ControlKind::Label, "", 0, 0, 4575, 735},
        {"Text1", kIdText1, ControlKind::TextBox, "", 0, 840, 4575, 375},
        {"Command1", kIdCommand1, ControlKind::DefaultButton, "&OK", 1680, 1320, 1215, 375},
    }};

const FormDesign kAskOk{
    "frmAskOK", "", 4680, 1875, true,
    {
        {"AskText", kIdAskText, ControlKind::Label, "", 120, 120, 4455, 975},
        {"btOK", kIdBtOk, ControlKind::DefaultButton, "&OK", 1680, 1320, 1215, 375},
    }};

// The status dialog has no close box: Cancel is the one way to stop a run.
const FormDesign kStatus{
    "frmStatusDlg", "Processing", 4680, 1305, false,
    {
        {"StatusProgressBar", kIdStatusProgressBar, ControlKind::ProgressBar, "", 120, 360, 4455, 255},
        {"btCancel", kIdBtCancel, ControlKind::Button, "&Cancel", 1680, 840, 1215, 375},
    }};

// Owns the screen's device context while the DPI is read.
class ScreenDc {
 public:
  ScreenDc() : dc_(::GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_ != nullptr) ::ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

void RegisterFormClass(WNDPROC proc) {
  static bool registered = false;
  if (registered) return;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  // The dialog manager keeps its state in these bytes of every dialog.
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    const DWORD code = ::GetLastError();
    RaiseError(code, L"Cannot register the window class of the dialogs");
  }
  registered = true;
}

std::string Ansi(const std::wstring& text) { return ToAnsiLossy(text); }

// ---- The four forms ------------------------------------------------------------

class AskYesNoForm : public Form {
 public:
  AskYesNoForm(int dpiX, int dpiY) : Form(AskYesNoDesign(), dpiX, dpiY) {}
  bool IsYesSelected() const { return yes_; }

 protected:
  void OnCommand(int id) override {
    if (id == kIdCommand1) yes_ = true;
    else if (id == kIdCommand2) yes_ = false;
    else if (id != IDCANCEL) return;
    Hide();  // Escape hides the form as closing it does: the answer stays
  }

 private:
  bool yes_ = false;
};

class AskStringForm : public Form {
 public:
  AskStringForm(int dpiX, int dpiY) : Form(AskStringDesign(), dpiX, dpiY) {}

 protected:
  void OnCommand(int id) override {
    if (id == kIdCommand1 || id == IDCANCEL) Hide();
  }
};

class AskOkForm : public Form {
 public:
  AskOkForm(int dpiX, int dpiY) : Form(AskOkDesign(), dpiX, dpiY) {}

 protected:
  void OnCommand(int id) override {
    if (id == kIdBtOk || id == IDCANCEL) Hide();
  }
};

class StatusForm : public Form {
 public:
  StatusForm(int dpiX, int dpiY) : Form(StatusDesign(), dpiX, dpiY) {}
  bool Cancelled() const { return cancelled_; }

 protected:
  // Cancel only sets the flag; the dialog stays up and the executor
  // notices the flag before its next instruction.
  void OnCommand(int id) override {
    if (id == kIdBtCancel) cancelled_ = true;
  }
  void OnClose() override { cancelled_ = true; }

 private:
  bool cancelled_ = false;
};

class Win32StatusWindow : public platform::StatusWindow {
 public:
  Win32StatusWindow(Win32Ui& ui, int left, int top) : ui_(ui), form_(ui.DpiX(), ui.DpiY()) {
    form_.MoveTo(left, top);
    ui_.AddModeless(form_.Hwnd());
  }
  ~Win32StatusWindow() override { ui_.RemoveModeless(form_.Hwnd()); }
  void SetRange(int min, int max) override {
    ::SendMessageA(form_.Control(kIdStatusProgressBar), PBM_SETRANGE32, static_cast<WPARAM>(min),
                   static_cast<LPARAM>(max));
  }
  void SetValue(int value) override {
    ::SendMessageA(form_.Control(kIdStatusProgressBar), PBM_SETPOS, static_cast<WPARAM>(value), 0);
  }
  // The status line is accepted and not shown: the dialog has no field for it.
  void SetStatusText(const std::wstring&) override {}
  void Show() override { form_.ShowModeless(); }
  bool IsCancelled() override { return form_.Cancelled(); }
  std::pair<int, int> Position() override {
    auto [left, top] = form_.PositionTwips();
    return {static_cast<int>(std::nearbyint(left)), static_cast<int>(std::nearbyint(top))};
  }

 private:
  Win32Ui& ui_;
  StatusForm form_;
};

}  // namespace

const FormDesign& AskYesNoDesign() { return kAskYesNo; }
const FormDesign& AskStringDesign() { return kAskString; }
const FormDesign& AskOkDesign() { return kAskOk; }
const FormDesign& StatusDesign() { return kStatus; }

int TwipsToPixels(double twips, int dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }
double PixelsToTwips(int pixels, int dpi) { return pixels * 1440.0 / dpi; }

// ---- Form --------------------------------------------------------------------------

Form::Form(const FormDesign& design, int dpiX, int dpiY) : dpiX_(dpiX), dpiY_(dpiY) {
  RegisterFormClass(&Form::Proc);
  const DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN | (design.closeBox ? WS_SYSMENU : 0);
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT r{0, 0, TwipsToPixels(design.width, dpiX), TwipsToPixels(design.height, dpiY)};
  ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  window_.Reset(::CreateWindowExA(exStyle, kFormClass, design.title, style, 0, 0, r.right - r.left,
                                  r.bottom - r.top, nullptr, nullptr, instance, nullptr));
  if (window_.Get() == nullptr) {
    const DWORD code = ::GetLastError();
    RaiseError(code, std::wstring(L"Cannot create the dialog ") + FromAnsi(design.name));
  }
  HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  bool first = true;
  for (const ControlDesign& c : design.controls) {
    const char* cls = "STATIC";
    DWORD cs = WS_CHILD | WS_VISIBLE | (first ? WS_GROUP : 0);
    DWORD cx = 0;
    switch (c.kind) {
      case ControlKind::Label:
        cs |= SS_LEFT | SS_NOPREFIX;
        break;
      case ControlKind::TextBox:
        cls = "EDIT";
        cs |= WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
        cx = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::Button:
        cls = "BUTTON";
        cs |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
      case ControlKind::DefaultButton:
        cls = "BUTTON";
        cs |= WS_TABSTOP | BS_DEFPUSHBUTTON;
        break;
      case ControlKind::ProgressBar:
        cls = PROGRESS_CLASSA;
        break;
    }
    first = false;
    HWND control = ::CreateWindowExA(
        cx, cls, c.caption, cs, TwipsToPixels(c.left, dpiX), TwipsToPixels(c.top, dpiY),
        TwipsToPixels(c.width, dpiX), TwipsToPixels(c.height, dpiY), window_.Get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    if (control == nullptr) {
      const DWORD code = ::GetLastError();
      RaiseError(code,
                 std::wstring(L"Cannot create the control ") + FromAnsi(c.name) + L" of " + FromAnsi(design.name));
    }
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.kind == ControlKind::DefaultButton) ::SendMessageA(window_.Get(), DM_SETDEFID, c.id, 0);
  }
  // Only now does the window procedure reach this object: messages sent
  // while the controls were made went to the dialog manager alone.
  ::SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Form::~Form() {
  if (window_.Get() != nullptr) ::SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK Form::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<Form*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (form != nullptr) {
    switch (message) {
      case WM_COMMAND:
        // Buttons, Enter and Escape; a text box's notifications are not
        // commands.
        if (HIWORD(wParam) == BN_CLICKED) {
          form->OnCommand(LOWORD(wParam));
          return 0;
        }
        break;
      case WM_CLOSE:
        form->OnClose();
        return 0;
      default:
        break;
    }
  }
  return ::DefDlgProcA(hwnd, message, wParam, lParam);
}

void Form::SetTitle(const std::wstring& title) { ::SetWindowTextA(window_.Get(), Ansi(title).c_str()); }

void Form::SetCaption(int id, const std::wstring& text) { ::SetDlgItemTextA(window_.Get(), id, Ansi(text).c_str()); }

std::wstring Form::Caption(int id) const {
  HWND control = Control(id);
  const int length = ::GetWindowTextLengthA(control);
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  const int n = ::GetWindowTextA(control, buffer.data(), length + 1);
  buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return FromAnsi(buffer);
}

void Form::MoveTo(double leftTwips, double topTwips) {
  ::SetWindowPos(window_.Get(), nullptr, TwipsToPixels(leftTwips, dpiX_), TwipsToPixels(topTwips, dpiY_), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::pair<double, double> Form::PositionTwips() const {
  RECT r{};
  ::GetWindowRect(window_.Get(), &r);
  return {PixelsToTwips(r.left, dpiX_), PixelsToTwips(r.top, dpiY_)};
}

std::pair<double, double> Form::SizeTwips() const {
  RECT r{};
  ::GetWindowRect(window_.Get(), &r);
  return {PixelsToTwips(r.right - r.left, dpiX_), PixelsToTwips(r.bottom - r.top, dpiY_)};
}

void Form::Hide() {
  ::ShowWindow(window_.Get(), SW_HIDE);
  hidden_ = true;
}

void Form::ShowModeless() {
  hidden_ = false;
  ::ShowWindow(window_.Get(), SW_SHOW);
  ::UpdateWindow(window_.Get());
}

void Form::ShowModal() {
  HWND hwnd = window_.Get();
  hidden_ = false;
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetForegroundWindow(hwnd);
  // The focus starts on the first control of the tab order that takes it;
  // a text box starts with its text selected.
  if (HWND first = ::GetNextDlgTabItem(hwnd, nullptr, FALSE); first != nullptr) {
    ::SetFocus(first);
    ::SendMessageA(first, EM_SETSEL, 0, -1);
  }
  MSG msg;
  while (!hidden_) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The program is asked to end: the request stays for the outer loop.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      Hide();
      break;
    }
    if (got == -1) {
      const DWORD code = ::GetLastError();
      RaiseError(code, L"Cannot read the window messages");
    }
    if (!::IsDialogMessageA(hwnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
}

// ---- Win32Ui -------------------------------------------------------------------------

Win32Ui::Win32Ui() {
  ScreenDc dc;
  if (dc.Get() != nullptr) {
    dpiX_ = ::GetDeviceCaps(dc.Get(), LOGPIXELSX);
    dpiY_ = ::GetDeviceCaps(dc.Get(), LOGPIXELSY);
  }
  if (dpiX_ <= 0) dpiX_ = 96;
  if (dpiY_ <= 0) dpiY_ = 96;
}

Win32Ui::~Win32Ui() = default;

void Win32Ui::ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon icon) {
  UINT type = MB_OK | MB_SETFOREGROUND;
  if (icon == platform::MessageIcon::Exclamation) type |= MB_ICONEXCLAMATION;
  ::MessageBoxA(nullptr, Ansi(text).c_str(), Ansi(title).c_str(), type);
}

void Win32Ui::CenterForm(Form& form) {
  const auto [screenWidth, screenHeight] = ScreenSize();
  const auto [width, height] = form.SizeTwips();
  // Single precision, as the form's coordinates are.
  const float left = (static_cast<float>(screenWidth) - static_cast<float>(width)) / 2;
  const float top = (static_cast<float>(screenHeight) - static_cast<float>(height)) / 2;
  form.MoveTo(left, top);
}

bool Win32Ui::AskYesNo(const std::wstring& question) {
  AskYesNoForm form(dpiX_, dpiY_);
  CenterForm(form);
  form.SetCaption(kIdAskText, question);
  form.ShowModal();
  return form.IsYesSelected();
}

std::wstring Win32Ui::AskString(const std::wstring& prompt, const std::wstring& initial) {
  AskStringForm form(dpiX_, dpiY_);
  CenterForm(form);
  form.SetCaption(kIdLblAskStr, prompt);
  form.SetCaption(kIdText1, initial);
  form.ShowModal();
  return form.Caption(kIdText1);
}

void Win32Ui::AskOk(const std::wstring& title, const std::wstring& text) {
  AskOkForm form(dpiX_, dpiY_);
  form.SetTitle(title);
  CenterForm(form);
  form.SetCaption(kIdAskText, text);
  form.ShowModal();
}

std::unique_ptr<platform::StatusWindow> Win32Ui::CreateStatusWindow(int left, int top) {
  return std::make_unique<Win32StatusWindow>(*this, left, top);
}

void Win32Ui::PumpMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    bool handled = false;
    // A copy: a message may close one of the windows.
    const std::set<HWND> windows = modeless_;
    for (HWND hwnd : windows) {
      if (::IsWindow(hwnd) && ::IsDialogMessageA(hwnd, &msg)) {
        handled = true;
        break;
      }
    }
    if (!handled) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
}

std::pair<double, double> Win32Ui::ScreenSize() {
  return {PixelsToTwips(::GetSystemMetrics(SM_CXSCREEN), dpiX_), PixelsToTwips(::GetSystemMetrics(SM_CYSCREEN), dpiY_)};
}

// A GUI program has no console to say it on.
void Win32Ui::ShowNotice(const std::wstring&) {}

// There is no Ctrl-C that ends a GUI program at once.
void Win32Ui::SetAbortExitStatus(int) {}

// ---- Win32ConsoleUi -----------------------------------------------------------------

namespace {

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

class ConsoleStatusWindow : public platform::StatusWindow {
 public:
  ConsoleStatusWindow(int left, int top) : left_(left), top_(top) {}
  void SetRange(int, int) override {}
  void SetValue(int) override {}
  void SetStatusText(const std::wstring&) override {}
  void Show() override {}
  bool IsCancelled() override { return false; }
  std::pair<int, int> Position() override { return {left_, top_}; }

 private:
  int left_, top_;
};

}  // namespace

bool ConsoleDialogsRequested() {
  const char* v = std::getenv("VSL_DIALOGS");
  return v != nullptr && std::string(v) == "console";
}

Win32ConsoleUi::Win32ConsoleUi()
    : in_(::GetStdHandle(STD_INPUT_HANDLE)),
      err_(::GetStdHandle(STD_ERROR_HANDLE)),
      inIsConsole_(IsConsole(in_)),
      errIsConsole_(IsConsole(err_)) {}

void Win32ConsoleUi::Write(const std::wstring& text) {
  if (err_ == nullptr || err_ == INVALID_HANDLE_VALUE) return;
  std::string bytes = Ansi(text);
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!::WriteFile(err_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
        written == 0)
      return;  // nowhere left to report to
    done += written;
  }
}

bool Win32ConsoleUi::ReadLine(std::string& line) {
  line.clear();
  if (in_ == nullptr || in_ == INVALID_HANDLE_VALUE) return false;
  bool any = false;
  for (;;) {
    char c;
    DWORD got = 0;
    if (!::ReadFile(in_, &c, 1, &got, nullptr) || got == 0) return any;
    any = true;
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void Win32ConsoleUi::Prompt(const std::wstring& text) { Write(inIsConsole_ ? text : text + L"\r\n"); }

void Win32ConsoleUi::ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon) {
  Write(title + L": " + text + L"\r\n");
  if (inIsConsole_ && errIsConsole_) {
    std::string ignored;
    ReadLine(ignored);
  }
}

bool Win32ConsoleUi::AskYesNo(const std::wstring& question) {
  Prompt(L"Confirm: " + question + L" [y/N] ");
  std::string line;
  if (!ReadLine(line)) return false;
  std::string answer = Trim(line);
  for (auto& ch : answer) ch = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
  return answer == "y" || answer == "yes";
}

std::wstring Win32ConsoleUi::AskString(const std::wstring& prompt, const std::wstring& initial) {
  Prompt(L"Question: " + prompt + L" [" + initial + L"] ");
  std::string line;
  if (ReadLine(line) && !line.empty()) return FromAnsi(line);
  return initial;
}

void Win32ConsoleUi::AskOk(const std::wstring& title, const std::wstring& text) {
  Prompt(title + L": " + text + L" [OK] ");
  std::string line;
  ReadLine(line);
}

std::unique_ptr<platform::StatusWindow> Win32ConsoleUi::CreateStatusWindow(int left, int top) {
  return std::make_unique<ConsoleStatusWindow>(left, top);
}

void Win32ConsoleUi::PumpMessages() {}

std::pair<double, double> Win32ConsoleUi::ScreenSize() {
  const int dpi = 96;
  return {PixelsToTwips(::GetSystemMetrics(SM_CXSCREEN), dpi), PixelsToTwips(::GetSystemMetrics(SM_CYSCREEN), dpi)};
}

void Win32ConsoleUi::ShowNotice(const std::wstring&) {}

void Win32ConsoleUi::SetAbortExitStatus(int) {}

}  // namespace win32
