// Where things are on a POSIX machine, in the Windows view that the file
// system backend gives: the Windows directory inside the prefix's drive C:,
// the temporary directory, fresh temporary files and the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/FileSystem.h"

namespace posix {

class PosixSystem : public platform::System {
 public:
  PosixSystem(PosixFileSystem& fs, int argc, char** argv);

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
  PosixFileSystem& fs_;
  bool prefixReady_ = false;  // the prefix was made sure of once
  std::wstring commandLine_;
  std::vector<std::wstring> arguments_;
  std::uint32_t counter_ = 0;
  bool counterSet_ = false;  // the counter starts on first use
};

}  // namespace posix
