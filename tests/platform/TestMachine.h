// What a conformance test needs from the test support of the backend under
// test: a fresh scratch directory, the backend's pieces set up so that they
// change nothing outside it, and host-side helpers that look at the machine
// without going through the backend. Each backend implements this class in
// tests/platform/<backend>/TestMachine.cpp.
//
// Relative names (`rel`) use '\' or '/' between components and name entries
// inside the scratch directory; "" names the directory itself.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

class TestMachine {
 public:
  // Makes the scratch directory and the pieces. The pieces keep their state
  // (registry database, prefix, temporary directory) inside the scratch
  // directory; the file system's current drive and directory is the scratch
  // directory. The registry starts empty below RegistryBase().
  TestMachine();
  // Restores what the machine changed and removes the scratch directory
  // (read-only entries included) and the registry key below RegistryBase().
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  // The backend's five pieces, owned by the machine.
  platform::Platform Pieces();
  platform::FileSystem& Fs();
  platform::Registry& Reg();
  platform::Processes& Proc();
  platform::System& Sys();

  // An entry of the scratch directory as a full script path in drive form
  // ("Z:\tmp\vsl-x\a\b" on POSIX), without a trailing separator.
  std::wstring Path(const std::wstring& rel = L"") const;
  // The same entry as the host names it, in the host's bytes.
  std::string HostPath(const std::wstring& rel = L"") const;

  // Host-side helpers, not through the backend under test.
  void Write(const std::wstring& rel, const std::string& bytes);  // makes missing directories
  std::string Read(const std::wstring& rel) const;  // "" when it cannot be read
  bool Exists(const std::wstring& rel) const;        // without following a link
  void MakeDir(const std::wstring& rel);             // with missing parents
  void MakeReadOnly(const std::wstring& rel);        // read-only attribute / no write permission

  // The platform's line end in text files and in what the helper program
  // writes: "\n" on POSIX, "\r\n" on Windows.
  std::string LineEnd() const;

  // A key path below HKEY_LOCAL_MACHINE, fresh for this machine, that the
  // registry tests work in. It does not exist yet.
  std::wstring RegistryBase() const;

  // A program that appends each of its arguments, in brackets, as one line
  // to args.txt in its working directory, and ends with the status given by
  // "--exit N" (0 when not given). A full script path.
  std::wstring HelperProgram() const;
  // The path of a library that exports DllRegisterServer and
  // DllUnregisterServer, returning the numbers in the environment variables
  // VSL_TEST_REGISTER_RESULT / VSL_TEST_UNREGISTER_RESULT (0 when unset).
  std::wstring HelperLibrary() const;
  // The command interpreter to pass to Processes::RunCommandLine.
  std::wstring Interpreter() const;
  // Sets (or, with "", clears) an environment variable of this process for
  // the machine's life; it is restored by the destructor.
  void SetEnv(const std::string& name, const std::string& value);

  // The dialogs on standard input and standard error, not on a terminal:
  // a Ui that reads its answers from `input` and writes what it shows to a
  // capture that ConsoleOutput() returns (with the platform's line ends).
  std::unique_ptr<platform::Ui> ConsoleUi(const std::string& input);
  std::string ConsoleOutput();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
