#include "forms/Forms.h"

#include <cmath>

// ---- frmStatusDlg -------------------------------------------------------------

frmStatusDlg::~frmStatusDlg() {
  try {
    Unload();
  } catch (...) {
    // Closing a window must not end the program; there is nothing to report.
  }
}

platform::StatusWindow& frmStatusDlg::Form() {
  if (!window_) {
    window_ = platform::UI().CreateStatusWindow(position_.left, position_.top);
    SetProgressMax(100);
    SetProgressMin(0);
  }
  return *window_;
}

void frmStatusDlg::SetProgressMax(std::int32_t nMax) {
  auto& w = Form();
  maxValue_ = nMax;
  w.SetRange(minValue_, maxValue_);
}

void frmStatusDlg::SetProgressMin(std::int32_t nMin) {
  auto& w = Form();
  minValue_ = nMin;
  w.SetRange(minValue_, maxValue_);
}

void frmStatusDlg::SetProgressValue(std::int32_t nValue) { Form().SetValue(nValue); }

bool frmStatusDlg::IsCancelled() { return Form().IsCancelled(); }

void frmStatusDlg::SetStatusText(const std::wstring& sStatusText) { Form().SetStatusText(sStatusText); }

void frmStatusDlg::Show() { Form().Show(); }

FormPosition frmStatusDlg::Unload() {
  if (window_) {
    auto [left, top] = window_->Position();
    position_ = {RoundHalfEven(left), RoundHalfEven(top)};
    window_.reset();
  }
  return position_;
}

// nearbyint rounds halves to even in the default rounding mode.
std::int32_t RoundHalfEven(double v) { return static_cast<std::int32_t>(std::nearbyint(v)); }

// ---- Dialog operations -------------------------------------------------------

namespace Dialogs {

const wchar_t* const kAppTitle = L"Varnel Script Language";

void MsgBox(const std::wstring& text, const std::wstring& title, platform::MessageIcon icon) {
  platform::UI().ShowMessage(title.empty() ? std::wstring(kAppTitle) : title, text, icon);
}

bool AskYesNoDlg(const std::wstring& sQuestion) { return platform::UI().AskYesNo(sQuestion); }

std::wstring AskStringDlg(const std::wstring& sAskStr, const std::wstring& sInput) {
  return platform::UI().AskString(sAskStr, sInput);
}

bool AskOKDlg(const std::wstring& sTitle, const std::wstring& sText) {
  // A dialog without a title of its own carries the application's title.
  platform::UI().AskOk(sTitle.empty() ? std::wstring(kAppTitle) : sTitle, sText);
  return true;
}

void DoEvents() { platform::UI().PumpMessages(); }

bool StopRequested() { return platform::UI().StopRequested(); }

}  // namespace Dialogs
