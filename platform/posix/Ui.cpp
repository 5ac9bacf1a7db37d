#include "platform/posix/Ui.h"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <memory>

#include "platform/Text.h"

namespace posix {

namespace {

constexpr int kBarCells = 30;

// The exit status when a second Ctrl-C ends the program at once; the
// program sets it (SetAbortExitStatus).
volatile std::sig_atomic_t gAbortStatus = 130;

// Set by the first Ctrl-C while a status window is shown or a dialog waits;
// a second one ends the program at once.
volatile std::sig_atomic_t gCancelled = 0;
// Set by SIGTERM and SIGHUP, which stop the program as Cancel does, whenever
// they come.
volatile std::sig_atomic_t gStopped = 0;
volatile std::sig_atomic_t gEraseOnExit = 0;
int gSignalErrFd = 2;

extern "C" void OnInterrupt(int) {
  if (gCancelled) {
    if (gEraseOnExit) {
      const char erase[] = "\r\033[K";
      ssize_t ignored = ::write(gSignalErrFd, erase, sizeof erase - 1);
      (void)ignored;
    }
    ::_exit(gAbortStatus);
  }
  gCancelled = 1;
}

extern "C" void OnStop(int) { gStopped = 1; }

bool Cancelled() { return gCancelled != 0 || gStopped != 0; }

// Ctrl-C presses Cancel while this lives (a status window is shown, a dialog
// waits). Without SA_RESTART a wait in progress (for an answer, for a
// started program) sees EINTR.
class InterruptCatcher {
 public:
  InterruptCatcher() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    installed_ = ::sigaction(SIGINT, &sa, &previous_) == 0;
  }
  ~InterruptCatcher() {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
  }
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

 private:
  bool installed_ = false;
  struct sigaction previous_ {};
};

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

class PosixStatusWindow : public platform::StatusWindow {
 public:
  PosixStatusWindow(PosixUi& ui, int left, int top) : ui_(ui), left_(left), top_(top) {}
  ~PosixStatusWindow() override {
    ui_.SetProgressVisible(false);
    interrupts_.reset();
    gEraseOnExit = 0;
  }
  void SetRange(int min, int max) override { ui_.SetProgressRange(min, max); }
  void SetValue(int value) override { ui_.SetProgressValue(value); }
  void SetStatusText(const std::wstring&) override {}
  void Show() override {
    if (!interrupts_) {
      gCancelled = 0;
      interrupts_ = std::make_unique<InterruptCatcher>();
    }
    ui_.SetProgressVisible(true);
  }
  bool IsCancelled() override { return Cancelled(); }
  std::pair<int, int> Position() override { return {left_, top_}; }

 private:
  PosixUi& ui_;
  int left_, top_;
  std::unique_ptr<InterruptCatcher> interrupts_;
};

}  // namespace

PosixUi::PosixUi(int inFd, int errFd)
    : inFd_(inFd), errFd_(errFd), errIsTerminal_(::isatty(errFd) == 1), inIsTerminal_(::isatty(inFd) == 1) {
  gSignalErrFd = errFd;
}

PosixUi::~PosixUi() { EraseProgress(); }

void PosixUi::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(errFd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report to
    }
    done += static_cast<std::size_t>(n);
  }
}

void PosixUi::CatchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStop;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
}

bool PosixUi::StopRequested() { return gStopped != 0; }

bool PosixUi::ReadLine(std::string& line) {
  line.clear();
  char c;
  bool any = false;
  bool ended = false;
  // Ctrl-C, SIGTERM and SIGHUP end the wait for an answer: the run is
  // cancelled. One that came before the wait began counts as well.
  const bool fresh = gCancelled == 0;
  InterruptCatcher interrupts;
  for (;;) {
    if (Cancelled() && (gStopped != 0 || fresh)) throw RunCancelled();
    ssize_t n = ::read(inFd_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    if (c == '\n') {
      ended = true;
      break;
    }
    line.push_back(c);
  }
  if (ended && !line.empty() && line.back() == '\r') line.pop_back();
  if (afterAnswer_) afterAnswer_();
  return any;
}

void PosixUi::Prompt(const std::wstring& text) {
  EraseProgress();
  std::string out = text::ToUtf8(text);
  if (!inIsTerminal_) out += "\n";
  Write(out);
}

void PosixUi::ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon) {
  EraseProgress();
  Write(text::ToUtf8(title) + ": " + text::ToUtf8(text) + "\n");
  if (inIsTerminal_ && errIsTerminal_) {
    std::string ignored;
    ReadLine(ignored);
  }
  DrawProgress();
}

bool PosixUi::AskYesNo(const std::wstring& question) {
  Prompt(L"Confirm: " + question + L" [y/N] ");
  std::string line;
  bool yes = false;
  if (ReadLine(line)) {
    std::string answer = Trim(line);
    for (auto& ch : answer) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    yes = answer == "y" || answer == "yes";
  }
  DrawProgress();
  return yes;
}

std::wstring PosixUi::AskString(const std::wstring& prompt, const std::wstring& initial) {
  Prompt(L"Question: " + prompt + L" [" + initial + L"] ");
  std::string line;
  std::wstring answer = initial;
  if (ReadLine(line) && !line.empty()) answer = text::FromUtf8(line);
  DrawProgress();
  return answer;
}

void PosixUi::AskOk(const std::wstring& title, const std::wstring& text) {
  Prompt(title + L": " + text + L" [OK] ");
  std::string line;
  ReadLine(line);
  DrawProgress();
}

std::unique_ptr<platform::StatusWindow> PosixUi::CreateStatusWindow(int left, int top) {
  return std::make_unique<PosixStatusWindow>(*this, left, top);
}

void PosixUi::PumpMessages() {}

void PosixUi::ShowNotice(const std::wstring& text) {
  EraseProgress();
  Write(text::ToUtf8(text) + "\n");
}

void PosixUi::SetAbortExitStatus(int status) { gAbortStatus = status; }

std::pair<double, double> PosixUi::ScreenSize() {
  // A terminal has no screen geometry; report a common 1920 x 1080 screen at
  // 15 twips per pixel so that window positions stay meaningful.
  return {1920.0 * 15, 1080.0 * 15};
}

void PosixUi::SetProgressRange(int min, int max) {
  min_ = min;
  max_ = max;
  DrawProgress();
}

void PosixUi::SetProgressValue(int value) {
  value_ = value;
  DrawProgress();
}

void PosixUi::SetProgressVisible(bool visible) {
  progressVisible_ = visible;
  gEraseOnExit = visible && errIsTerminal_;
  if (visible)
    DrawProgress();
  else
    EraseProgress();
}

void PosixUi::DrawProgress() {
  if (!errIsTerminal_ || !progressVisible_) return;
  double fraction = max_ > min_ ? static_cast<double>(value_ - min_) / (max_ - min_) : 0.0;
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  const int cells = static_cast<int>(fraction * kBarCells);
  const int percent = static_cast<int>(fraction * 100);
  // Redraw only when what is shown changes.
  if (progressDrawn_ && cells == lastCells_ && percent == lastPercent_) return;
  std::string line = "\rProcessing [";
  line.append(static_cast<std::size_t>(cells), '#');
  line.append(static_cast<std::size_t>(kBarCells - cells), ' ');
  line += "] " + std::to_string(percent) + "%  (Ctrl-C cancels)";
  Write(line);
  progressDrawn_ = true;
  lastCells_ = cells;
  lastPercent_ = percent;
}

void PosixUi::EraseProgress() {
  if (!progressDrawn_) return;
  Write("\r\033[K");
  progressDrawn_ = false;
}

}  // namespace posix
