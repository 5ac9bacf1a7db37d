// Starting programs and loading shared libraries on POSIX systems.
//
// Programs are started without a shell: the argument string is split the way
// a Windows program's C runtime splits its command line, so scripts written
// for Windows hand the same arguments to a program here. The Windows command
// interpreter ("<Windows directory>\system32\cmd.exe /c LINE") becomes
// "/bin/sh -c LINE".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace posix {

// Splits an argument string by the rules of the Microsoft C runtime:
// blanks and tabs separate arguments outside double quotes; a double quote
// toggles quoting; "" inside a quoted part is a literal quote; 2n
// backslashes before a quote give n backslashes (the quote then toggles),
// 2n+1 give n backslashes and a literal quote; other backslashes are
// literal.
std::vector<std::wstring> SplitWindowsArguments(const std::wstring& arguments);

// True when `program` names the Windows command interpreter
// ("C:\windows\system32\cmd.exe", or a bare "cmd.exe" / "cmd").
// Other programs are script paths; a bare name (no separator, no drive) is
// searched on the PATH, and only when no executable of that name is there,
// in the current directory of the current drive.
bool IsCommandInterpreter(const std::wstring& program);

class PosixProcesses : public platform::Processes {
 public:
  explicit PosixProcesses(platform::FileSystem& fs) : fs_(fs) {}

  int Run(const std::wstring& program, const std::wstring& arguments) override;
  std::unique_ptr<platform::Module> Load(const std::wstring& path) override;

  // Called just before a program starts, so that the terminal can be made
  // ready for the program's own output (the progress line erased).
  void SetBeforeStart(std::function<void()> hook) { beforeStart_ = std::move(hook); }

 private:
  platform::FileSystem& fs_;
  std::function<void()> beforeStart_;
};

}  // namespace posix
