// Test doubles that record what they are asked, and a platform of them with the POSIX files and registry.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/Registry.h"
#include "platform/TestMachine.h"

struct StatusLog {
  std::vector<std::string> calls;  // "range 0 4", "show", "value 1", "text ..."
  int cancelAtValue = -1;  // IsCancelled answers true once this value was set
  int lastValue = -1;
  bool closed = false;
};

struct FakeStatusWindow : platform::StatusWindow {
  StatusLog& log_;
  explicit FakeStatusWindow(StatusLog& log) : log_(log) {}
  ~FakeStatusWindow() override { log_.closed = true; }
  // A range set right after another replaces it: of the ranges set before the dialog shows, the last one counts.
  void SetRange(int min, int max) override {
    if (!log_.calls.empty() && log_.calls.back().starts_with("range ")) log_.calls.pop_back();
    log_.calls.push_back("range " + std::to_string(min) + " " + std::to_string(max));
  }
  void SetValue(int value) override {
    log_.lastValue = value;
    log_.calls.push_back("value " + std::to_string(value));
  }
  void SetStatusText(const std::wstring& text) override { log_.calls.push_back("text " + std::string(text.begin(), text.end())); }
  void Show() override { log_.calls.push_back("show"); }
  bool IsCancelled() override { return log_.cancelAtValue >= 0 && log_.lastValue >= log_.cancelAtValue; }
  std::pair<int, int> Position() override { return {1234, 567}; }
};

struct FakeUi : platform::Ui {
  // One string per dialog: "TITLE: TEXT", "yesno: Q", "ask: PROMPT [INITIAL]", "ok: TITLE: TEXT".
  std::vector<std::wstring> shown;
  std::vector<platform::MessageIcon> icons;  // of each ShowMessage
  std::deque<std::wstring> answers;
  StatusLog status;
  int pumps = 0;

  void ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon icon) override {
    shown.push_back(title + L": " + text);
    icons.push_back(icon);
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
  std::wstring Next() {
    if (answers.empty()) return L"";
    std::wstring a = answers.front();
    answers.pop_front();
    return a;
  }
};

// Records what it is asked to start and which libraries it is asked to load; it has none to offer.
struct FakeProcesses : platform::Processes {
  std::vector<std::wstring> runs, loads;  // runs: "program|arguments", "shell INTERPRETER|line"

  int Run(const std::wstring& program, const std::wstring& arguments) override {
    runs.push_back(program + L"|" + arguments);
    return 0;
  }
  int RunCommandLine(const std::wstring& interpreter, const std::wstring& line) override {
    return Run(L"shell " + interpreter, line);
  }
  std::optional<long> CallEntryPoint(const std::wstring& library, const char*) override {
    loads.push_back(library);
    return std::nullopt;
  }
};

// The Windows directory, version and temporary directory as a test sets them.
struct FakeSystem : platform::System {
  std::wstring windowsDir = L"C:\\windows", tempDir, journalDir;
  bool nt = true;
  std::wstring WindowsDir() override { return windowsDir; }
  bool IsWindowsNT() override { return nt; }
  std::wstring TempDir() override { return tempDir; }
  std::wstring MakeTempFile(const std::wstring& dir, const std::wstring& prefix) override {
    if (dir.empty()) throw VslError(L"no temporary directory");
    platform::Fs().Open(dir + prefix + L"1.TMP", platform::OpenMode::Write);
    return dir + prefix + L"1.TMP";
  }
  std::wstring CommandLineText() override { return L""; }
  std::vector<std::wstring> Arguments() override { return {}; }
  std::wstring EnvironmentValue(const std::wstring&) override { return L""; }
  std::wstring JournalDir() override { return journalDir; }
  void Print(platform::OutputStream, const std::wstring&) override {}
};

// The POSIX file system, recording the directories it is asked to create.
struct RecordingFs : posix::PosixFileSystem {
  std::vector<std::wstring> created;
  void CreateDir(const std::wstring& path) override {
    created.push_back(path);
    PosixFileSystem::CreateDir(path);
  }
};

// A test's platform: a POSIX file system `Fs` working in the test machine's scratch directory (its prefix and
// temporary directory beside), the machine's registry, and doubles for the rest.
template <class Fs>
struct ScratchPlatformOf : ::testing::Test {
  ScratchPlatformOf() { fs.ChangeDir(m.Path()); }
  platform::Platform Pieces() { return {&fs, &reg, &procs, &ui, &sys}; }
  // Stores `data` as it is, as a value of any type, creating the key.
  void SetRaw(const std::wstring& key, const std::wstring& name, std::uint32_t type, const std::string& data) {
    platform::KeyHandle k(reg);
    ASSERT_EQ(reg.CreateKey(platform::kHKeyLocalMachine, key, k.Out()), platform::kErrorSuccess);
    ASSERT_EQ(reg.SetValue(k.Get(), name, type, reinterpret_cast<const std::uint8_t*>(data.data()),
                           static_cast<std::uint32_t>(data.size())), platform::kErrorSuccess);
  }
  // Drive `letter` (lower case) mapped to the directory `rel` of the scratch directory.
  void MapDrive(char letter, const std::wstring& rel) {
    const std::string devices = m.HostPath(L"../prefix/dosdevices/");
    std::filesystem::create_directories(devices);
    std::filesystem::create_directory_symlink(m.HostPath(rel), devices + letter + ":");
  }

  TestMachine m;
  Fs fs;
  platform::Registry& reg = m.Reg();
  FakeUi ui;
  FakeProcesses procs;
  FakeSystem sys;
  platform::ScopedPlatform scoped{Pieces()};
};
using ScratchPlatform = ScratchPlatformOf<RecordingFs>;
