// Where things are on Windows: the Windows and temporary directories from
// kernel32, temporary files from GetTempFileNameA, the command line as
// Windows delivers it, and output for a program that may have no console.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/FileSystem.h"

namespace win32 {

// The argument text of a command line: everything after the program's name
// (quoted or not) and the blanks that follow it, unsplit.
std::string ArgumentText(const std::string& commandLine);

class Win32System : public platform::System {
 public:
  Win32System(Win32FileSystem& fs, int argc, char** argv);

  std::wstring WindowsDir() override;
  bool IsWindowsNT() override;
  std::wstring TempDir() override;
  std::wstring MakeTempFile(const std::wstring& dir, const std::wstring& prefix) override;
  std::wstring CommandLineText() override;
  std::vector<std::wstring> Arguments() override;
  std::wstring EnvironmentValue(const std::wstring& name) override;
  std::wstring JournalDir() override;
  void Print(platform::OutputStream stream, const std::wstring& text) override;

 private:
  Win32FileSystem& fs_;
  std::vector<std::wstring> arguments_;
  bool attachTried_ = false;
};

}  // namespace win32
