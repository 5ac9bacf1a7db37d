// Starting programs and loading shared libraries on POSIX systems.
//
// Programs are started without a shell: the argument string is split the way
// a Windows program's C runtime splits its command line, so scripts written
// for Windows hand the same arguments to a program here. A bare program name
// (no separator, no drive) is searched on the PATH, and only when no
// executable of that name is there, in the current directory of the current
// drive. Command lines for the command interpreter go to "/bin/sh -c LINE".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/FileSystem.h"

namespace posix {

// Splits an argument string by the rules of the Microsoft C runtime:
// blanks and tabs separate arguments outside double quotes; a double quote
// toggles quoting; "" inside a quoted part is a literal quote; 2n
// backslashes before a quote give n backslashes (the quote then toggles),
// 2n+1 give n backslashes and a literal quote; other backslashes are
// literal.
std::vector<std::wstring> SplitWindowsArguments(const std::wstring& arguments);

class PosixProcesses : public platform::Processes {
 public:
  explicit PosixProcesses(PosixFileSystem& fs) : fs_(fs) {}

  int Run(const std::wstring& program, const std::wstring& arguments) override;
  int RunCommandLine(const std::wstring& interpreter, const std::wstring& commandLine) override;
  std::optional<long> CallEntryPoint(const std::wstring& library, const char* entry) override;

  // Called just before a program starts, so that the terminal can be made
  // ready for the program's own output (the progress line erased).
  void SetBeforeStart(std::function<void()> hook) { beforeStart_ = std::move(hook); }

 private:
  // Starts the program `file` (a host path) with `args` (argv, its name
  // first) in the current directory of the current drive and waits for it.
  int Start(const std::wstring& program, const std::string& file, std::vector<std::string> args);

  PosixFileSystem& fs_;
  std::function<void()> beforeStart_;
};

}  // namespace posix
