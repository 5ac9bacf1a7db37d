// A backend's test support: its pieces confined to a fresh scratch directory, and host-side helpers.
// `rel` names an entry of that directory ('\' or '/' between components; "" the directory itself).
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Platform.h"
#include "platform/Text.h"

class TestMachine {
 public:
  TestMachine();   // the file system's current directory is the scratch directory
  ~TestMachine();  // restores the environment, removes the scratch directory and RegistryBase()

  platform::Platform Pieces();  // all five, owned by the machine
  platform::FileSystem& Fs() { return *Pieces().fileSystem; }
  platform::Registry& Reg() { return *Pieces().registry; }
  platform::Processes& Proc() { return *Pieces().processes; }
  platform::System& Sys() { return *Pieces().system; }

  std::wstring Path(const std::wstring& rel = L"") const;     // script path in drive form
  std::string HostPath(const std::wstring& rel = L"") const;  // as the host names it
  void Write(const std::wstring& rel, const std::string& bytes);  // makes missing directories
  std::string Read(const std::wstring& rel) const;                 // "" when unreadable
  bool Exists(const std::wstring& rel) const;                      // a link is not followed
  void MakeDir(const std::wstring& rel);                           // with its parents
  void MakeReadOnly(const std::wstring& rel);
  void SetEnv(const std::string& name, const std::string& value);  // "" unsets; until the machine ends

  std::string LineEnd() const;           // of text files and the helper program
  std::wstring RegistryBase() const;     // a key below HKEY_LOCAL_MACHINE that does not exist yet
  // Appends "[arg]" and a line end per argument to args.txt in its directory; exits with N of "--exit N".
  std::wstring HelperProgram() const;
  // DllRegisterServer / DllUnregisterServer return VSL_TEST_REGISTER_RESULT / ..._UNREGISTER_... (or 0).
  std::wstring HelperLibrary() const;
  std::wstring Interpreter() const;  // for Processes::RunCommandLine
  // Dialogs on standard input and error, not a terminal, answering from `input`.
  std::unique_ptr<platform::Ui> ConsoleUi(const std::string& input);
  std::string ConsoleOutput();  // what they wrote

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Makes the files {rel, bytes} and, for names ending in '/', the directories.
inline void MakeTree(TestMachine& m, std::initializer_list<std::pair<std::wstring, std::string>> entries) {
  for (const auto& [rel, bytes] : entries) rel.back() == L'/' ? m.MakeDir(rel) : m.Write(rel, bytes);
}
// The description of the VslError that `f` raises.
inline std::wstring Raised(const std::function<void()>& f) {
  try { f(); } catch (const VslError& e) { return e.Description(); }
  return L"<nothing raised>";
}

// The names of a listing, sorted unless `sorted` is false.
inline std::vector<std::wstring> Names(const std::vector<platform::FindEntry>& entries, bool sorted = true) {
  std::vector<std::wstring> names;
  for (const auto& e : entries) names.push_back(e.name);
  if (sorted) std::sort(names.begin(), names.end());
  return names;
}

// Registry shorthands: a REG_SZ value with its NUL; a value's bytes ("<missing>" when unreadable);
// the subkeys in enumeration order; keys held open until the end (0 when they cannot be opened).
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
struct HeldKeys {
  explicit HeldKeys(platform::Registry& reg) : r(reg) {}
  platform::Registry& r;
  std::deque<platform::KeyHandle> held;
  platform::RegKey operator()(platform::RegKey parent, const std::wstring& path, bool create = false) {
    auto& k = held.emplace_back(r);
    const long rc = create ? r.CreateKey(parent, path, k.Out())
                           : r.OpenKey(parent, path, platform::kKeyRead | platform::kKeyWrite, k.Out());
    return rc == platform::kErrorSuccess ? k.Get() : 0;
  }
};
