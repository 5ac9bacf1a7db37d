// The Windows test machine: a scratch directory below the temporary
// directory, made with kernel32, holds "work" (the directory the tests see),
// the pieces' temporary directory and the console files; the registry key is
// the machine's own; the helpers are built beside the test program.
#include "platform/TestMachine.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>

#include "platform/win32/FileSystem.h"
#include "platform/win32/Processes.h"
#include "platform/win32/Registry.h"
#include "platform/win32/System.h"
#include "platform/win32/Ui.h"

namespace {

std::string ExeDir() {
  char buffer[MAX_PATH];
  const std::string path(buffer, ::GetModuleFileNameA(nullptr, buffer, sizeof buffer));
  return path.substr(0, path.find_last_of('\\'));
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &data);
  for (bool more = h != INVALID_HANDLE_VALUE; more; more = ::FindNextFileA(h, &data)) {
    const std::string name = data.cFileName, path = dir + "\\" + name;
    if (name == "." || name == "..") continue;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveTree(path) : void(::DeleteFileA(path.c_str()));
  }
  if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
  ::RemoveDirectoryA(dir.c_str());
}

void WriteHost(const std::string& path, const std::string& bytes, std::size_t from) {
  for (std::size_t i = from; (i = path.find('\\', i)) != std::string::npos; ++i)
    ::CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

std::string ReadHost(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
    std::fclose(f);
  }
  return out;
}

// The current directory of drive i lives in the variable "=X:".
std::string DriveVar(int i) { return {'=', static_cast<char>('A' + i), ':'}; }

}  // namespace

struct TestMachine::Impl {
  std::string root, dir;  // the scratch directory and its "work", in the ANSI code page
  std::wstring regBase;
  // What the machine changes in the process, to be restored.
  std::string cwd;
  std::map<std::string, std::optional<std::string>> env;
  std::optional<std::string> drives[26];
  win32::Handle consoleIn, consoleErr;

  win32::Win32FileSystem fs;
  win32::Win32Registry reg;
  win32::Win32Processes proc{fs};
  win32::Win32System sys{fs, 0, nullptr};
  win32::Win32Ui ui;
};

TestMachine::TestMachine() : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  char buffer[MAX_PATH];
  m.cwd.assign(buffer, ::GetCurrentDirectoryA(sizeof buffer, buffer));
  for (int i = 0; i < 26; ++i) {
    const DWORD n = ::GetEnvironmentVariableA(DriveVar(i).c_str(), buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) m.drives[i] = std::string(buffer, n);
  }
  const std::string temp(buffer, ::GetTempPathA(sizeof buffer, buffer));
  static unsigned counter = 0;
  const std::string id = std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++);
  for (unsigned extra = 0; m.root.empty() || !::CreateDirectoryA(m.root.c_str(), nullptr); ++extra)
    m.root = temp + "vslw" + id + "_" + std::to_string(extra);
  m.dir = m.root + "\\work";
  ::CreateDirectoryA(m.dir.c_str(), nullptr);
  ::CreateDirectoryA((m.root + "\\tmp").c_str(), nullptr);
  m.regBase = L"Software\\VslTest\\" + win32::FromAnsi(id);
  SetEnv("TMP", m.root + "\\tmp");
  SetEnv("TEMP", m.root + "\\tmp");
  m.fs.ChangeDrive(L"C");
  m.fs.ChangeDir(Path());
}

TestMachine::~TestMachine() {
  Impl& m = *impl_;
  ::SetCurrentDirectoryA(m.cwd.c_str());
  for (int i = 0; i < 26; ++i)
    ::SetEnvironmentVariableA(DriveVar(i).c_str(), m.drives[i] ? m.drives[i]->c_str() : nullptr);
  for (const auto& [name, value] : m.env) _putenv_s(name.c_str(), value ? value->c_str() : "");
  m.consoleIn.Reset();
  m.consoleErr.Reset();
  RemoveTree(m.root);
  ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, win32::ToAnsiLossy(m.regBase).c_str());
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, win32::ToAnsiLossy(m.regBase).c_str());
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VslTest");  // once it is empty
}

platform::Platform TestMachine::Pieces() { return {&impl_->fs, &impl_->reg, &impl_->proc, &impl_->ui, &impl_->sys}; }
platform::FileSystem& TestMachine::Fs() { return impl_->fs; }
platform::Registry& TestMachine::Reg() { return impl_->reg; }
platform::Processes& TestMachine::Proc() { return impl_->proc; }
platform::System& TestMachine::Sys() { return impl_->sys; }

std::wstring TestMachine::Path(const std::wstring& rel) const { return win32::FromAnsi(HostPath(rel)); }
std::string TestMachine::HostPath(const std::wstring& rel) const {
  std::string p = win32::ToAnsiLossy(rel);
  std::replace(p.begin(), p.end(), '/', '\\');
  return p.empty() ? impl_->dir : impl_->dir + "\\" + p;
}
void TestMachine::Write(const std::wstring& rel, const std::string& bytes) {
  WriteHost(HostPath(rel), bytes, impl_->dir.size() + 1);
}
std::string TestMachine::Read(const std::wstring& rel) const { return ReadHost(HostPath(rel)); }
bool TestMachine::Exists(const std::wstring& rel) const {
  return ::GetFileAttributesA(HostPath(rel).c_str()) != INVALID_FILE_ATTRIBUTES;
}
void TestMachine::MakeDir(const std::wstring& rel) { WriteHost(HostPath(rel) + "\\", "", impl_->dir.size() + 1); }
void TestMachine::MakeReadOnly(const std::wstring& rel) {
  const std::string path = HostPath(rel);
  ::SetFileAttributesA(path.c_str(), ::GetFileAttributesA(path.c_str()) | FILE_ATTRIBUTE_READONLY);
}
// _putenv_s changes the C runtime's copy, which the helper library reads, and the process's own.
void TestMachine::SetEnv(const std::string& name, const std::string& value) {
  const char* old = std::getenv(name.c_str());
  impl_->env.try_emplace(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
  _putenv_s(name.c_str(), value.c_str());
}

std::string TestMachine::LineEnd() const { return "\r\n"; }
std::wstring TestMachine::RegistryBase() const { return impl_->regBase; }
std::wstring TestMachine::HelperProgram() const { return win32::FromAnsi(ExeDir() + "\\" VSL_TEST_SLEEPER); }
std::wstring TestMachine::HelperLibrary() const { return win32::FromAnsi(ExeDir() + "\\" VSL_TEST_DLL); }
std::wstring TestMachine::Interpreter() const { return impl_->sys.WindowsDir() + L"\\system32\\cmd.exe"; }

// The console dialogs take the standard handles when they are made: input
// from a file with the answers, errors to a file.
std::unique_ptr<platform::Ui> TestMachine::ConsoleUi(const std::string& input) {
  Impl& m = *impl_;
  const std::string in = m.root + "\\console-in.txt", out = m.root + "\\console-out.txt";
  WriteHost(in, input, m.root.size());
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  m.consoleIn.Reset(::CreateFileA(in.c_str(), GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr));
  m.consoleErr.Reset(::CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                                   0, nullptr));
  HANDLE stdIn = ::GetStdHandle(STD_INPUT_HANDLE), stdErr = ::GetStdHandle(STD_ERROR_HANDLE);
  ::SetStdHandle(STD_INPUT_HANDLE, m.consoleIn.Get());
  ::SetStdHandle(STD_ERROR_HANDLE, m.consoleErr.Get());
  auto ui = std::make_unique<win32::Win32ConsoleUi>();
  ::SetStdHandle(STD_INPUT_HANDLE, stdIn);
  ::SetStdHandle(STD_ERROR_HANDLE, stdErr);
  return ui;
}
std::string TestMachine::ConsoleOutput() { return ReadHost(impl_->root + "\\console-out.txt"); }
