// The Windows test machine: a scratch directory holds "work" (what the tests see), "tmp" (the pieces'
// temporary directory) and the console files; the helpers are built beside the test program.
#include "platform/TestMachine.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "platform/win32/Processes.h"
#include "platform/win32/Registry.h"
#include "platform/win32/System.h"
#include "platform/win32/Ui.h"

namespace {

namespace stdfs = std::filesystem;

std::string Slurp(const stdfs::path& path) {
  return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

// The current directory of drive i lives in the variable "=X:".
std::string DriveVar(int i) { return {'=', static_cast<char>('A' + i), ':'}; }

std::wstring BesideProgram(const char* name) {
  wchar_t buffer[MAX_PATH];
  return stdfs::path(std::wstring(buffer, ::GetModuleFileNameW(nullptr, buffer, MAX_PATH))).replace_filename(name);
}

}  // namespace

// The scratch directory and the process's state, made before the pieces and restored after them.
struct ScratchMachineDir {
  stdfs::path root, cwd = stdfs::current_path();
  std::string id, dir;  // dir: root\work in the ANSI code page
  std::map<std::string, std::optional<std::string>> env;
  std::optional<std::string> drives[26];
  ScratchMachineDir() {
    char buffer[MAX_PATH];
    for (int i = 0; i < 26; ++i)
      if (DWORD n = ::GetEnvironmentVariableA(DriveVar(i).c_str(), buffer, sizeof buffer); n > 0 && n < sizeof buffer)
        drives[i] = std::string(buffer, n);
    static unsigned counter = 0;
    id = std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++);
    for (unsigned extra = 0; root.empty() || !stdfs::create_directory(root); ++extra)
      root = stdfs::temp_directory_path() / ("vslw" + id + "_" + std::to_string(extra));
    for (const char* sub : {"work", "tmp"}) stdfs::create_directory(root / sub);
    dir = win32::ToAnsiLossy((root / "work").wstring());
    for (const char* name : {"TMP", "TEMP"}) Set(name, win32::ToAnsiLossy((root / "tmp").wstring()));
  }
  ~ScratchMachineDir() {
    stdfs::current_path(cwd);
    for (int i = 0; i < 26; ++i)
      ::SetEnvironmentVariableA(DriveVar(i).c_str(), drives[i] ? drives[i]->c_str() : nullptr);
    for (const auto& [name, value] : env) _putenv_s(name.c_str(), value ? value->c_str() : "");
    std::error_code ec;
    for (const auto& e : stdfs::recursive_directory_iterator(root, ec))
      ::SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    // Under Wine a program that has ended holds its directory a moment longer.
    for (int i = 0; stdfs::remove_all(root, ec) == static_cast<std::uintmax_t>(-1) && i < 50; ++i) ::Sleep(100);
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\VslTest\\" + id).c_str());
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VslTest");  // once it is empty
  }
  // _putenv_s changes the C runtime's copy, which the helper library reads, and the process's own.
  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    env.try_emplace(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    _putenv_s(name.c_str(), value.c_str());
  }
};

struct TestMachine::Impl {
  ScratchMachineDir scratch;
  win32::Handle consoleIn, consoleErr;
  win32::Win32FileSystem files;
  win32::Win32Registry reg;
  win32::Win32Processes proc{files};
  win32::Win32System sys{files, 0, nullptr};
  win32::Win32Ui ui;
};

TestMachine::TestMachine() : impl_(std::make_unique<Impl>()) {
  impl_->files.ChangeDrive(L"C");
  impl_->files.ChangeDir(Path());
}
TestMachine::~TestMachine() = default;

platform::Platform TestMachine::Pieces() { return {&impl_->files, &impl_->reg, &impl_->proc, &impl_->ui, &impl_->sys}; }

std::wstring TestMachine::Path(const std::wstring& rel) const { return win32::FromAnsi(HostPath(rel)); }
std::string TestMachine::HostPath(const std::wstring& rel) const {
  std::string p = win32::ToAnsiLossy(rel);
  std::replace(p.begin(), p.end(), '/', '\\');
  return p.empty() ? impl_->scratch.dir : impl_->scratch.dir + "\\" + p;
}
void TestMachine::Write(const std::wstring& rel, const std::string& bytes) {
  stdfs::create_directories(stdfs::path(Path(rel)).parent_path());
  std::ofstream(stdfs::path(Path(rel)), std::ios::binary) << bytes;
}
std::string TestMachine::Read(const std::wstring& rel) const { return Slurp(Path(rel)); }
bool TestMachine::Exists(const std::wstring& rel) const {
  return ::GetFileAttributesA(HostPath(rel).c_str()) != INVALID_FILE_ATTRIBUTES;
}
void TestMachine::MakeDir(const std::wstring& rel) { stdfs::create_directories(Path(rel)); }
void TestMachine::MakeReadOnly(const std::wstring& rel) {
  ::SetFileAttributesA(HostPath(rel).c_str(), ::GetFileAttributesA(HostPath(rel).c_str()) | FILE_ATTRIBUTE_READONLY);
}
void TestMachine::SetEnv(const std::string& name, const std::string& value) { impl_->scratch.Set(name, value); }

std::string TestMachine::LineEnd() const { return "\r\n"; }
std::wstring TestMachine::RegistryBase() const { return L"Software\\VslTest\\" + win32::FromAnsi(impl_->scratch.id); }
std::wstring TestMachine::HelperProgram() const { return BesideProgram(VSL_TEST_SLEEPER); }
std::wstring TestMachine::HelperLibrary() const { return BesideProgram(VSL_TEST_DLL); }
std::wstring TestMachine::Interpreter() const { return impl_->sys.WindowsDir() + L"\\system32\\cmd.exe"; }

// The console dialogs take the standard handles when they are made: answers from a file, output to another.
std::unique_ptr<platform::Ui> TestMachine::ConsoleUi(const std::string& input) {
  Impl& m = *impl_;
  const stdfs::path in = m.scratch.root / "console-in.txt", out = m.scratch.root / "console-out.txt";
  std::ofstream(in, std::ios::binary) << input;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  m.consoleIn.Reset(::CreateFileW(in.c_str(), GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr));
  m.consoleErr.Reset(
      ::CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0, nullptr));
  HANDLE stdIn = ::GetStdHandle(STD_INPUT_HANDLE), stdErr = ::GetStdHandle(STD_ERROR_HANDLE);
  ::SetStdHandle(STD_INPUT_HANDLE, m.consoleIn.Get());
  ::SetStdHandle(STD_ERROR_HANDLE, m.consoleErr.Get());
  auto ui = std::make_unique<win32::Win32ConsoleUi>();
  ::SetStdHandle(STD_INPUT_HANDLE, stdIn);
  ::SetStdHandle(STD_ERROR_HANDLE, stdErr);
  return ui;
}
std::string TestMachine::ConsoleOutput() { return Slurp(impl_->scratch.root / "console-out.txt"); }
