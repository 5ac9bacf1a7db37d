// Pieces shared by the Windows backend's tests: a scratch directory made
// with kernel32 itself (an outside view of what the backend did), and the
// directory of the test program, where the helper programs are built.
#pragma once

#include <windows.h>

#include <string>

namespace wintest {

std::string ExeDir();

// A fresh directory below the temporary directory, removed with all it holds.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // The full path of `name` inside, as narrow and as wide text.
  std::string Path(const std::string& name = "") const;
  std::wstring WPath(const std::string& name = "") const;

 private:
  std::string dir_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool Exists(const std::string& path);

// Restores the process's current directory and the "=X:" variables of the
// drives when it goes out of scope.
class DirectoryGuard {
 public:
  DirectoryGuard();
  ~DirectoryGuard();
  DirectoryGuard(const DirectoryGuard&) = delete;
  DirectoryGuard& operator=(const DirectoryGuard&) = delete;

 private:
  std::string cwd_;
  std::string vars_[26];
  bool had_[26] = {};
};

}  // namespace wintest
