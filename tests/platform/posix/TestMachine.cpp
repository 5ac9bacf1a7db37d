// The POSIX test machine: the scratch directory holds the prefix (VSL_PREFIX), the temporary
// directory (TMPDIR), the registry database and the helper program beside "work", the tests' directory.
#include "platform/TestMachine.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/posix/Processes.h"
#include "platform/posix/Registry.h"
#include "platform/posix/System.h"
#include "platform/posix/Ui.h"

static std::wstring DriveForm(const std::string& host) {
  std::wstring w = L"Z:" + text::FromUtf8(host);
  std::replace(w.begin(), w.end(), L'/', L'\\');
  return w;
}
static std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The scratch directory and the environment, made before the pieces.
struct ScratchMachineDir {
  std::string root;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  ScratchMachineDir() {
    char pattern[] = "/tmp/vslpt-XXXXXX";
    root = std::filesystem::canonical(::mkdtemp(pattern)).string();
    for (const char* d : {"/work", "/prefix", "/tmp", "/bin"}) std::filesystem::create_directories(root + d);
    Set("VSL_PREFIX", root + "/prefix");
    Set("TMPDIR", root + "/tmp");
    std::ofstream(root + "/bin/helper") << "#!/bin/sh\ns=0 prev=\nfor a in \"$@\"; do\n  printf '[%s]\\n' \"$a\" >> args.txt\n"
                                           "  [ \"$prev\" = --exit ] && s=$a\n  prev=$a\ndone\nexit $s\n";
    ::chmod((root + "/bin/helper").c_str(), 0755);
  }
  ~ScratchMachineDir() {
    for (auto it = saved.rbegin(); it != saved.rend(); ++it)
      it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1) : ::unsetenv(it->first.c_str());
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec); it != decltype(it)(); it.increment(ec))
      if (!it->is_symlink()) ::chmod(it->path().c_str(), 0755);
    std::filesystem::remove_all(root, ec);
  }
  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
  }
};

struct TestMachine::Impl {
  ScratchMachineDir scratch;
  std::string work = scratch.root + "/work";
  posix::PosixFileSystem fs;
  posix::PosixSystem system{fs, 0, nullptr};
  posix::PosixProcesses processes{fs};
  posix::PosixRegistry registry{[db = scratch.root + "/registry.db"] { return db; }};
  posix::PosixUi ui;
  int uiFds[2] = {-1, -1};
  void CloseUi() { for (int& fd : uiFds) fd >= 0 && ::close(fd), fd = -1; }
  ~Impl() { CloseUi(); }
};

TestMachine::TestMachine() : impl_(std::make_unique<Impl>()) { impl_->fs.ChangeDir(Path()); }
TestMachine::~TestMachine() = default;
platform::Platform TestMachine::Pieces() {
  return {&impl_->fs, &impl_->registry, &impl_->processes, &impl_->ui, &impl_->system};
}

std::wstring TestMachine::Path(const std::wstring& rel) const { return DriveForm(HostPath(rel)); }
std::string TestMachine::HostPath(const std::wstring& rel) const {
  std::string r = text::ToUtf8(rel);
  std::replace(r.begin(), r.end(), '\\', '/');
  return r.empty() ? impl_->work : impl_->work + "/" + r;
}
void TestMachine::Write(const std::wstring& rel, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(HostPath(rel)).parent_path());
  std::ofstream(HostPath(rel), std::ios::binary | std::ios::trunc) << bytes;
}
std::string TestMachine::Read(const std::wstring& rel) const { return ReadAll(HostPath(rel)); }
bool TestMachine::Exists(const std::wstring& rel) const {
  return std::filesystem::exists(std::filesystem::symlink_status(HostPath(rel)));
}
void TestMachine::MakeDir(const std::wstring& rel) { std::filesystem::create_directories(HostPath(rel)); }
void TestMachine::MakeReadOnly(const std::wstring& rel) {
  struct stat st;
  if (::stat(HostPath(rel).c_str(), &st) == 0) ::chmod(HostPath(rel).c_str(), st.st_mode & 07555);
}
void TestMachine::SetEnv(const std::string& name, const std::string& value) { impl_->scratch.Set(name, value); }

std::string TestMachine::LineEnd() const { return "\n"; }
std::wstring TestMachine::RegistryBase() const { return L"Software\\VslTest"; }
std::wstring TestMachine::HelperProgram() const { return DriveForm(impl_->scratch.root + "/bin/helper"); }
std::wstring TestMachine::HelperLibrary() const { return DriveForm(VSL_TEST_DLL); }
std::wstring TestMachine::Interpreter() const { return L"C:\\windows\\system32\\cmd.exe"; }

std::unique_ptr<platform::Ui> TestMachine::ConsoleUi(const std::string& input) {
  const std::string& root = impl_->scratch.root;
  std::ofstream(root + "/ui-in", std::ios::binary) << input;
  impl_->CloseUi();
  impl_->uiFds[0] = ::open((root + "/ui-in").c_str(), O_RDONLY | O_CLOEXEC);
  impl_->uiFds[1] = ::open((root + "/ui-err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return std::make_unique<posix::PosixUi>(impl_->uiFds[0], impl_->uiFds[1]);
}
std::string TestMachine::ConsoleOutput() { return ReadAll(impl_->scratch.root + "/ui-err"); }
