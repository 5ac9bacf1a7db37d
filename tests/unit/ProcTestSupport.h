// Test doubles for the process and system-helper tests: a file system that
// maps "Z:\x\y" to the host path "/x/y" with plain POSIX calls, a fake process
// service that records what it was asked to start, a scratch directory, and
// the real POSIX file system with its prefix in a scratch directory.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/posix/FileSystem.h"

namespace proctest {

// A fresh directory under the temporary directory, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vslproc-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    host_ = std::filesystem::canonical(buf.data()).string();
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(host_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(host_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Host path of an entry ("" for the directory itself).
  std::string Host(const std::string& rel = "") const { return rel.empty() ? host_ : host_ + "/" + rel; }
  // Drive form: "Z:\tmp\vslproc-1\rel".
  std::wstring Drive(const std::wstring& rel = L"") const {
    std::wstring d = L"Z:" + text::FromUtf8(host_);
    for (auto& c : d) {
      if (c == L'/') c = L'\\';
    }
    return rel.empty() ? d : d + L"\\" + rel;
  }

 private:
  std::string host_;
};

inline std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteHostFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  ::chmod(path.c_str(), mode);
}

class HostFile : public platform::File {
 public:
  explicit HostFile(int fd) : fd_(fd) {}
  ~HostFile() override { ::close(fd_); }
  std::string ReadAll() override {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    return out;
  }
  void Write(const std::string& bytes) override {
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw VslError(L"short write");
    }
  }

 private:
  int fd_;
};

// Only the calls the process layer and the system helper make are real.
class HostFs : public platform::FileSystem {
 public:
  std::wstring current = L"Z:\\";
  std::vector<std::wstring> created;  // every CreateDir call, in order

  std::string HostPath(const std::wstring& path) {
    std::wstring p = path;
    if (p.size() >= 2 && p[0] == L'Q' && p[1] == L':') throw VslError(L"The drive Q: does not exist");
    if (p.size() >= 2 && (p[0] == L'Z' || p[0] == L'z') && p[1] == L':') p = p.substr(2);
    for (auto& c : p) {
      if (c == L'\\') c = L'/';
    }
    if (p.empty() || p[0] != L'/') {
      std::string base = HostPath(current);
      if (base.empty() || base.back() != '/') base += '/';
      return base + text::ToUtf8(p);
    }
    return text::ToUtf8(p);
  }
  std::wstring CurrentDir() override { return current; }
  std::uint32_t GetAttributes(const std::wstring& path) override {
    struct stat st{};
    if (::stat(HostPath(path).c_str(), &st) != 0) return platform::kInvalidAttributes;
    std::uint32_t a = S_ISDIR(st.st_mode) ? platform::kAttrDirectory : platform::kAttrArchive;
    if ((st.st_mode & S_IWUSR) == 0) a |= platform::kAttrReadOnly;
    return a;
  }
  void CreateDir(const std::wstring& path) override {
    created.push_back(path);
    if (::mkdir(HostPath(path).c_str(), 0777) != 0) {
      throw VslError(L"Cannot create the directory " + path + L": " + text::FromUtf8(std::strerror(errno)));
    }
  }
  std::unique_ptr<platform::File> Open(const std::wstring& path, platform::OpenMode mode) override {
    int flags = mode == platform::OpenMode::Read     ? O_RDONLY
                : mode == platform::OpenMode::Write ? O_WRONLY | O_CREAT | O_TRUNC
                                                     : O_WRONLY | O_CREAT | O_APPEND;
    int fd = ::open(HostPath(path).c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) throw VslError(L"Cannot open " + path + L": " + text::FromUtf8(std::strerror(errno)));
    return std::make_unique<HostFile>(fd);
  }
  std::wstring ReadTextFile(const std::wstring& path) override { return text::FromUtf8(Open(path, platform::OpenMode::Read)->ReadAll()); }
  void AppendTextLine(const std::wstring& path, const std::wstring& line) override {
    Open(path, platform::OpenMode::Append)->Write(text::ToUtf8(line) + "\n");
  }
  bool CanCreateIn(const std::wstring& dir) override { return ::access(HostPath(dir).c_str(), W_OK | X_OK) == 0; }
  // Exact names only: the entry itself when it exists.
  std::vector<platform::FindEntry> Find(const std::wstring& pattern) override {
    std::uint32_t a = GetAttributes(pattern);
    if (a == platform::kInvalidAttributes) return {};
    std::size_t slash = pattern.find_last_of(L"\\/");
    return {{slash == std::wstring::npos ? pattern : pattern.substr(slash + 1), a}};
  }

  void ChangeDrive(const std::wstring&) override { Unused(); }
  void ChangeDir(const std::wstring&) override { Unused(); }
  void SetAttributes(const std::wstring&, std::uint32_t) override { Unused(); }
  void RemoveDir(const std::wstring&) override { Unused(); }
  void RemoveFile(const std::wstring&) override { Unused(); }
  void RemoveMatching(const std::wstring&) override { Unused(); }
  void CopyWholeFile(const std::wstring&, const std::wstring&) override { Unused(); }
  bool SamePlace(const std::wstring&, const std::wstring&) override { Unused(); }
  bool SameFile(const std::wstring&, const std::wstring&) override { Unused(); }

 private:
  [[noreturn]] static void Unused() { throw VslError(L"not used by these tests"); }
};

// Records Run and RunCommandLine calls and serves libraries whose entry
// points are plain functions of the test, by path.
class FakeProcesses : public platform::Processes {
 public:
  struct Call {
    std::wstring program, arguments;
  };
  std::vector<Call> runs;
  std::vector<Call> commandLines;  // interpreter, line
  std::vector<std::wstring> loads;
  std::map<std::wstring, std::map<std::string, int (*)()>> libraries;

  int Run(const std::wstring& program, const std::wstring& arguments) override {
    runs.push_back({program, arguments});
    return 0;
  }
  int RunCommandLine(const std::wstring& interpreter, const std::wstring& commandLine) override {
    commandLines.push_back({interpreter, commandLine});
    return 0;
  }
  std::optional<long> CallEntryPoint(const std::wstring& library, const char* entry) override {
    loads.push_back(library);
    auto lib = libraries.find(library);
    if (lib == libraries.end()) return std::nullopt;
    auto fn = lib->second.find(entry);
    if (fn == lib->second.end()) return std::nullopt;
    return fn->second();
  }
};

// Windows directory and version as a test sets them.
class FakeSystem : public platform::System {
 public:
  std::wstring windowsDir = L"C:\\windows";
  bool nt = true;
  std::wstring WindowsDir() override { return windowsDir; }
  bool IsWindowsNT() override { return nt; }
  std::wstring TempDir() override { throw VslError(L"not used by these tests"); }
  std::wstring MakeTempFile(const std::wstring&, const std::wstring&) override {
    throw VslError(L"not used by these tests");
  }
  std::wstring CommandLineText() override { return L""; }
  std::vector<std::wstring> Arguments() override { return {}; }
  std::wstring EnvironmentValue(const std::wstring&) override { return L""; }
  void Print(platform::OutputStream, const std::wstring&) override {}
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) old_ = old, hadOld_ = true;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (hadOld_) ::setenv(name_.c_str(), old_.c_str(), 1);
    else ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool hadOld_ = false;
};

// The real POSIX file system with its prefix inside `scratch`, its current
// directory the scratch directory.
class RealFs {
 public:
  explicit RealFs(const ScratchDir& scratch) : prefix_("VSL_PREFIX", scratch.Host(".prefix")) {
    fs.ChangeDir(scratch.Drive());
  }

 private:
  ScopedEnv prefix_;

 public:
  posix::PosixFileSystem fs;
};

}  // namespace proctest
