// Starting programs and loading libraries on Windows.
//
// Programs start through CreateProcessA with the current directory of the
// current drive (the process's own) and the environment of this process,
// which carries the other drives' directories. While a program runs, the
// wait lets window messages through, so that the status dialog stays
// painted and its Cancel button works.
#pragma once

#include <functional>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/FileSystem.h"

namespace win32 {

class Win32Processes : public platform::Processes {
 public:
  explicit Win32Processes(Win32FileSystem& fs) : fs_(fs) {}

  int Run(const std::wstring& program, const std::wstring& arguments) override;
  int RunCommandLine(const std::wstring& interpreter, const std::wstring& commandLine) override;
  std::optional<long> CallEntryPoint(const std::wstring& library, const char* entry) override;
  void RegisterTypeLibrary(const std::wstring& path) override;

  // Lets the window messages through while a started program is awaited.
  void SetMessagePump(std::function<void()> pump) { pump_ = std::move(pump); }

 private:
  // Starts `commandLine` (its program first, quoted) and waits for it.
  // `application` is the program's full path, or empty to let Windows
  // search for the first word of the command line.
  int Start(const std::wstring& shown, const std::string& application, std::string commandLine);
  // Waits for a process handle to be signalled while pumping messages.
  void Await(HANDLE process);

  Win32FileSystem& fs_;
  std::function<void()> pump_;
};

}  // namespace win32
