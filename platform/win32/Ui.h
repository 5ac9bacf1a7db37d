// The Windows user interface: the four forms as real windows, built in code
// from their designed geometry in twips, the message box, and letting
// window messages through.
//
// A form is a window of the class "VslForm", whose window procedure passes
// what it does not handle to DefDlgProc, so that the dialog manager gives
// it the keyboard of a dialog: Tab moves through the controls in their tab
// order, Enter presses the default button (or the button that has the
// focus), Escape presses Cancel. The client area and every control are
// converted from twips to pixels with the screen's DPI (1440 twips per
// inch).
//
// With VSL_DIALOGS=console in the environment the dialogs are asked on the
// standard handles instead, one line each, as the POSIX build asks them on
// its terminal: a deliberate mode for unattended runs such as tests.
#pragma once

#include "platform/win32/Support.h"

#include <commctrl.h>
// commctrl.h names its status-bar call so; here the name is the interface's.
#undef CreateStatusWindow

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace win32 {

// ---- The designed forms -----------------------------------------------------

enum class ControlKind { Label, TextBox, Button, DefaultButton, ProgressBar };

// One control of a form: its name in the design, its window identifier,
// its kind and caption, and its rectangle in twips.
struct ControlDesign {
  const char* name;
  int id;
  ControlKind kind;
  const char* caption;
  int left, top, width, height;
};

// A form: its name, title, client area in twips, whether it has a close box,
// and its controls in tab order (the order in which they are created).
struct FormDesign {
  const char* name;
  const char* title;
  int width, height;
  bool closeBox;
  std::vector<ControlDesign> controls;
};

// Control identifiers. Escape and closing the window arrive as IDCANCEL,
// which the status dialog's Cancel button answers to.
constexpr int kIdCommand1 = 101;
constexpr int kIdCommand2 = 102;
constexpr int kIdAskText = 103;
constexpr int kIdLblAskStr = 104;
constexpr int kIdText1 = 105;
constexpr int kIdBtOk = 106;
constexpr int kIdStatusProgressBar = 107;
constexpr int kIdBtCancel = IDCANCEL;

const FormDesign& AskYesNoDesign();
const FormDesign& AskStringDesign();
const FormDesign& AskOkDesign();
const FormDesign& StatusDesign();

// Twips to pixels and back at `dpi` pixels per inch, rounded to the nearest.
int TwipsToPixels(double twips, int dpi);
double PixelsToTwips(int pixels, int dpi);

// One form as a window. Created hidden, with no owner.
class Form {
 public:
  Form(const FormDesign& design, int dpiX, int dpiY);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  HWND Hwnd() const { return window_.Get(); }
  HWND Control(int id) const { return ::GetDlgItem(window_.Get(), id); }
  void SetTitle(const std::wstring& title);
  void SetCaption(int id, const std::wstring& text);
  std::wstring Caption(int id) const;
  // Position of the window's outer top-left corner, in twips.
  void MoveTo(double leftTwips, double topTwips);
  std::pair<double, double> PositionTwips() const;
  std::pair<double, double> SizeTwips() const;
  // Shows the form modally: a message loop of its own runs until a button
  // or closing the window hides it.
  void ShowModal();
  // Shows the form modelessly.
  void ShowModeless();
  bool Hidden() const { return hidden_; }

 protected:
  void Hide();
  // A button (or Escape / closing, as IDCANCEL) was pressed.
  virtual void OnCommand(int id) = 0;
  // The close box or Alt+F4; the question dialogs hide, answering nothing.
  virtual void OnClose() { Hide(); }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  Window window_;
  int dpiX_, dpiY_;
  bool hidden_ = true;
};

// ---- The Ui -------------------------------------------------------------------

class Win32Ui : public platform::Ui {
 public:
  Win32Ui();
  ~Win32Ui() override;

  void ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon icon) override;
  bool AskYesNo(const std::wstring& question) override;
  std::wstring AskString(const std::wstring& prompt, const std::wstring& initial) override;
  void AskOk(const std::wstring& title, const std::wstring& text) override;
  std::unique_ptr<platform::StatusWindow> CreateStatusWindow(int left, int top) override;
  void PumpMessages() override;
  std::pair<double, double> ScreenSize() override;
  void ShowNotice(const std::wstring& text) override;
  void SetAbortExitStatus(int status) override;

  int DpiX() const { return dpiX_; }
  int DpiY() const { return dpiY_; }
  // Centres a form on the screen, in twips, left before top.
  void CenterForm(Form& form);
  // Modeless windows whose keyboard messages go through the dialog manager
  // while messages are let through.
  void AddModeless(HWND hwnd) { modeless_.insert(hwnd); }
  void RemoveModeless(HWND hwnd) { modeless_.erase(hwnd); }

 private:
  int dpiX_ = 96, dpiY_ = 96;
  std::set<HWND> modeless_;
};

// The dialogs on the standard handles (VSL_DIALOGS=console).
class Win32ConsoleUi : public platform::Ui {
 public:
  Win32ConsoleUi();

  void ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon icon) override;
  bool AskYesNo(const std::wstring& question) override;
  std::wstring AskString(const std::wstring& prompt, const std::wstring& initial) override;
  void AskOk(const std::wstring& title, const std::wstring& text) override;
  std::unique_ptr<platform::StatusWindow> CreateStatusWindow(int left, int top) override;
  void PumpMessages() override;
  std::pair<double, double> ScreenSize() override;
  void ShowNotice(const std::wstring& text) override;
  void SetAbortExitStatus(int status) override;

 private:
  void Write(const std::wstring& text);
  void Prompt(const std::wstring& text);
  bool ReadLine(std::string& line);

  HANDLE in_, err_;
  bool inIsConsole_, errIsConsole_;
};

// Whether the environment asks for the dialogs on the standard handles.
bool ConsoleDialogsRequested();

}  // namespace win32
