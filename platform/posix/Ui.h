// The terminal user interface: every dialog is written to standard error and
// answered on standard input, one line per answer.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace posix {

class PosixUi : public platform::Ui {
 public:
  // Descriptors of the terminal, replaceable for tests.
  explicit PosixUi(int inFd = 0, int errFd = 2);
  ~PosixUi() override;

  void ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon icon) override;
  bool AskYesNo(const std::wstring& question) override;
  std::wstring AskString(const std::wstring& prompt, const std::wstring& initial) override;
  void AskOk(const std::wstring& title, const std::wstring& text) override;
  std::unique_ptr<platform::StatusWindow> CreateStatusWindow(int left, int top) override;
  void PumpMessages() override;
  std::pair<double, double> ScreenSize() override;
  void ShowNotice(const std::wstring& text) override;
  void SetAbortExitStatus(int status) override;
  bool StopRequested() override;
  // SIGTERM and SIGHUP from now on ask the program to stop as Cancel does
  // (StopRequested) instead of ending it; the program's entry calls it.
  static void CatchStopSignals();

  // The progress line of the status window. It is drawn only while the
  // window is shown and standard error is a terminal, erased around every
  // dialog and before a started program writes, and drawn again after.
  void SetProgressRange(int min, int max);
  void SetProgressValue(int value);
  void SetProgressVisible(bool visible);
  void EraseProgress();
  // Called after the user answered (a line was read): whatever the user did
  // meanwhile may have changed the file system.
  void SetAfterAnswer(std::function<void()> hook) { afterAnswer_ = std::move(hook); }

 private:
  // Writes a prompt; when standard input is not a terminal the answer does
  // not echo, so a line end follows the prompt.
  void Prompt(const std::wstring& text);
  // One line of standard input without its line end; false at end of input.
  bool ReadLine(std::string& line);
  void Write(const std::string& bytes);
  // Draws the progress line when it is visible and what it shows changed.
  void DrawProgress();

  int inFd_;
  int errFd_;
  bool errIsTerminal_;
  bool inIsTerminal_;
  bool progressVisible_ = false;
  bool progressDrawn_ = false;
  int lastCells_ = -1;
  int lastPercent_ = -1;
  int min_ = 0, max_ = 100, value_ = 0;
  std::function<void()> afterAnswer_;
};

}  // namespace posix
