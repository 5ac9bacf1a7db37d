// The dialogs: the modeless status dialog with its progress bar and Cancel
// button, and the three modal question dialogs with the operations that
// show them. The platform's user interface draws them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

// Designed client area of the status dialog, in twips.
constexpr double kStatusDlgWidth = 4680;
constexpr double kStatusDlgHeight = 1305;

// A form's position on the screen, in twips.
struct FormPosition {
  std::int32_t left = 0;
  std::int32_t top = 0;
};

// Rounds to the nearest whole number, halves to even, as positions in twips
// are rounded.
std::int32_t RoundHalfEven(double v);

class frmStatusDlg {
 public:
  // The dialog opens at `at` when it is first used.
  explicit frmStatusDlg(FormPosition at) : position_(at) {}
  ~frmStatusDlg();  // unloads
  frmStatusDlg(const frmStatusDlg&) = delete;
  frmStatusDlg& operator=(const frmStatusDlg&) = delete;

  void SetProgressMax(std::int32_t nMax);
  void SetProgressMin(std::int32_t nMin);
  void SetProgressValue(std::int32_t nValue);
  bool IsCancelled();
  void SetStatusText(const std::wstring& sStatusText);
  // Shows the dialog modelessly.
  void Show();
  // Closes the window; returns where it stood (where it opened when it was
  // never loaded), for the next status dialog to open there.
  FormPosition Unload();

 private:
  // Loads the form on first use: at its position, cancelled flag cleared,
  // range 0..100.
  platform::StatusWindow& Form();
  std::unique_ptr<platform::StatusWindow> window_;
  FormPosition position_;
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 100;
};

// The dialog operations of the script language.
namespace Dialogs {

// The message box with an OK button; "" gives the application's title.
void MsgBox(const std::wstring& text, const std::wstring& title = L"",
            platform::MessageIcon icon = platform::MessageIcon::None);
bool AskYesNoDlg(const std::wstring& sQuestion);
std::wstring AskStringDlg(const std::wstring& sAskStr, const std::wstring& sInput);
bool AskOKDlg(const std::wstring& sTitle, const std::wstring& sText);
// Lets pending window messages through.
void DoEvents();
// Whether the program was asked to stop as Cancel stops it (SIGTERM or
// SIGHUP on POSIX): nothing more is to be parsed or run.
bool StopRequested();

// The application's title, used by every message box without its own.
extern const wchar_t* const kAppTitle;

}  // namespace Dialogs
