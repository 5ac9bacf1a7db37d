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

class frmStatusDlg {
 public:
  frmStatusDlg() = default;
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
  // Records the position in the driver's pair and closes the window.
  void Unload();

 private:
  // Loads the form on first use: position from the driver's pair, cancelled
  // flag cleared, range 0..100.
  platform::StatusWindow& Form();
  std::unique_ptr<platform::StatusWindow> window_;
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 100;
};

namespace Utility {

// The message box with an OK button; "" gives the application's title.
void MsgBox(const std::wstring& text, const std::wstring& title = L"",
            platform::MessageIcon icon = platform::MessageIcon::None);
bool AskYesNoDlg(const std::wstring& sQuestion);
std::wstring AskStringDlg(const std::wstring& sAskStr, const std::wstring& sInput);
bool AskOKDlg(const std::wstring& sTitle, const std::wstring& sText);
// Lets pending window messages through.
void DoEvents();

// The application's title, used by every message box without its own.
extern const wchar_t* const kAppTitle;

}  // namespace Utility
