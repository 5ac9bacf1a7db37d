// The platform a fuzzed script runs on: the memory file system and
// registry, and the test doubles of the unit tests for dialogs, programs and
// the system. Only Doubles.h's doubles are used; its scratch directories and
// POSIX pieces are not, and the fuzz build links no platform backend, so a
// slip would not link rather than reach the machine.
#pragma once

#include <string_view>

#include "Doubles.h"
#include "MemoryPlatform.h"
#include "driver/InstallLog.h"
#include "parser/CVSLParser.h"

struct FuzzPlatform {
  FuzzPlatform() {
    for (const wchar_t* dir : {L"C:\\windows", L"C:\\temp", L"C:\\work"}) fs.CreateDir(dir);
    fs.ChangeDir(L"C:\\work");
    sys.tempDir = L"C:\\temp\\";
    // Yes, a typed answer holding a reference, and the default, in turn.
    for (int i = 0; i < 20; ++i) ui.answers.insert(ui.answers.end(), {L"y", L"typed $(a)", L""});
  }
  void Write(const std::wstring& path, std::string_view bytes) {
    fs.Open(path, platform::OpenMode::Write)->Write(std::string(bytes));
  }

  MemoryFileSystem fs;
  MemoryRegistry reg;
  FakeUi ui;
  FakeProcesses procs;
  FakeSystem sys;
  platform::ScopedPlatform scoped{platform::Platform{&fs, &reg, &procs, &ui, &sys}};
};

// Parses the script and runs its instruction list as vsl does, with the
// install log watching. A failure (VslError) and the end of the program
// (ProgramExit) are outcomes a script may have; anything else escapes and is
// a finding.
inline void ParseAndRun(const std::wstring& script) {
  InstallLog log(L"C:\\install.log");
  CVSLParser parser;
  parser.SetObserver(&log);
  try {
    parser.Parse(script);
    parser.Execute({0, 0});
  } catch (const VslError&) {
  } catch (const ProgramExit&) {
  }
}
