// What a conformance test gets from the test support of the backend under
// test (tests/platform/<backend>/TestMachine.cpp): a fresh scratch directory,
// the backend's pieces set up to change nothing outside it, and host-side
// helpers that look at the machine without the backend. A `rel` name is an
// entry of the scratch directory ('\' or '/' between components; "" is the
// directory itself).
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

class TestMachine {
 public:
  // The pieces keep their state (prefix, temporary directory, registry) to
  // the machine; the file system's current directory is the scratch directory.
  TestMachine();
  // Restores the environment, removes the scratch directory (read-only
  // entries too) and the registry key RegistryBase().
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  platform::Platform Pieces();  // all five, owned by the machine
  platform::FileSystem& Fs();
  platform::Registry& Reg();
  platform::Processes& Proc();
  platform::System& Sys();

  // The entry as a full script path in drive form, no trailing separator.
  std::wstring Path(const std::wstring& rel = L"") const;
  // The entry as the host names it, in the host's bytes.
  std::string HostPath(const std::wstring& rel = L"") const;
  void Write(const std::wstring& rel, const std::string& bytes);  // makes missing directories
  std::string Read(const std::wstring& rel) const;                 // "" when unreadable
  bool Exists(const std::wstring& rel) const;                      // a link is not followed
  void MakeDir(const std::wstring& rel);                           // with its parents
  void MakeReadOnly(const std::wstring& rel);
  // Sets ("" unsets) an environment variable until the machine ends.
  void SetEnv(const std::string& name, const std::string& value);

  // The line end of text files and of the helper program: "\n" or "\r\n".
  std::string LineEnd() const;
  // A key path below HKEY_LOCAL_MACHINE that does not exist yet.
  std::wstring RegistryBase() const;
  // A program that appends each argument as "[arg]" and a line end to
  // args.txt in its working directory and exits with the N of "--exit N".
  std::wstring HelperProgram() const;
  // A library exporting DllRegisterServer / DllUnregisterServer, which return
  // VSL_TEST_REGISTER_RESULT / VSL_TEST_UNREGISTER_RESULT (0 when unset).
  std::wstring HelperLibrary() const;
  // The interpreter argument of Processes::RunCommandLine.
  std::wstring Interpreter() const;
  // The dialogs on standard input and error, not a terminal: answers come
  // from `input`; ConsoleOutput() is what they wrote.
  std::unique_ptr<platform::Ui> ConsoleUi(const std::string& input);
  std::string ConsoleOutput();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The description of the VslError that `f` raises.
inline std::wstring Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const VslError& e) {
    return e.Description();
  }
  return L"<nothing raised>";
}

// The names of a listing, sorted unless `sorted` is false (the order is the platform's).
inline std::vector<std::wstring> Names(const std::vector<platform::FindEntry>& entries, bool sorted = true) {
  std::vector<std::wstring> names;
  for (const auto& e : entries) names.push_back(e.name);
  if (sorted) std::sort(names.begin(), names.end());
  return names;
}

// Registry shorthands: a REG_SZ value with its NUL; the bytes of a value
// ("<missing>" when it cannot be read); the subkeys in enumeration order.
inline long SetSz(platform::Registry& r, platform::RegKey k, const std::wstring& name, const std::string& s) {
  return r.SetValue(k, name, platform::kRegSz, reinterpret_cast<const std::uint8_t*>(s.c_str()),
                    static_cast<std::uint32_t>(s.size() + 1));
}
inline std::string GetValue(platform::Registry& r, platform::RegKey k, const std::wstring& name) {
  std::uint8_t buf[512];
  std::uint32_t size = sizeof buf;
  if (r.QueryValue(k, name, nullptr, buf, &size) != platform::kErrorSuccess) return "<missing>";
  return std::string(reinterpret_cast<char*>(buf), size);
}
inline std::vector<std::wstring> Subkeys(platform::Registry& r, platform::RegKey k) {
  std::vector<std::wstring> names;
  std::wstring name;
  for (std::uint32_t i = 0; r.EnumKey(k, i, 256, &name) == platform::kErrorSuccess; ++i) names.push_back(name);
  return names;
}
