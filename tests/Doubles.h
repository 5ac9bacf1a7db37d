// The test doubles of the front-end and executor tests: a user interface
// that records what the program shows and answers from a script of replies.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

struct StatusLog {
  std::vector<std::string> calls;  // "range 0 4", "show", "value 1", "text ...", "cancelled?"
  bool cancelAfterFirstQuestion = false;
  int cancelAtValue = -1;  // IsCancelled answers true once this value was set
  int lastValue = -1;
  bool closed = false;
};

class FakeStatusWindow : public platform::StatusWindow {
 public:
  explicit FakeStatusWindow(StatusLog& log) : log_(log) {}
  ~FakeStatusWindow() override { log_.closed = true; }
  void SetRange(int min, int max) override {
    log_.calls.push_back("range " + std::to_string(min) + " " + std::to_string(max));
  }
  void SetValue(int value) override {
    log_.lastValue = value;
    log_.calls.push_back("value " + std::to_string(value));
  }
  void SetStatusText(const std::wstring& text) override {
    log_.calls.push_back("text " + std::string(text.begin(), text.end()));
  }
  void Show() override { log_.calls.push_back("show"); }
  bool IsCancelled() override {
    return log_.cancelAtValue >= 0 && log_.lastValue >= log_.cancelAtValue;
  }
  std::pair<int, int> Position() override { return {1234, 567}; }

 private:
  StatusLog& log_;
};

class FakeUi : public platform::Ui {
 public:
  // Everything shown, one string per dialog: "TITLE: TEXT", "yesno: Q",
  // "ask: PROMPT [INITIAL]", "ok: TITLE: TEXT".
  std::vector<std::wstring> shown;
  std::deque<std::wstring> answers;
  StatusLog status;
  int pumps = 0;

  void ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon) override {
    shown.push_back(title + L": " + text);
  }
  bool AskYesNo(const std::wstring& question) override {
    shown.push_back(L"yesno: " + question);
    return Next() == L"y";
  }
  std::wstring AskString(const std::wstring& prompt, const std::wstring& initial) override {
    shown.push_back(L"ask: " + prompt + L" [" + initial + L"]");
    std::wstring a = Next();
    return a.empty() ? initial : a;
  }
  void AskOk(const std::wstring& title, const std::wstring& text) override {
    shown.push_back(L"ok: " + title + L": " + text);
    Next();
  }
  std::unique_ptr<platform::StatusWindow> CreateStatusWindow(int, int) override {
    return std::make_unique<FakeStatusWindow>(status);
  }
  void PumpMessages() override { ++pumps; }
  std::pair<double, double> ScreenSize() override { return {19200, 14400}; }
  void ShowNotice(const std::wstring& text) override { shown.push_back(L"notice: " + text); }
  void SetAbortExitStatus(int) override {}

 private:
  std::wstring Next() {
    if (answers.empty()) return L"";
    std::wstring a = answers.front();
    answers.pop_front();
    return a;
  }
};
