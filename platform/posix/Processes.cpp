#include "platform/posix/Processes.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/PathSyntax.h"
#include "platform/Text.h"
#include "platform/posix/Support.h"

namespace posix {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// What the child reports through the error pipe when it cannot run the
// program; nothing arrives when exec succeeded.
struct ChildFailure {
  int stage;  // kStageDirectory or kStageExec
  int error;  // errno
};
constexpr int kStageDirectory = 1;
constexpr int kStageExec = 2;

// True when `path` is a regular file this process may execute. A regular
// file that exists but cannot be executed sets `err` to EACCES, so that a
// search that finds nothing better reports "permission denied".
bool IsRunnable(const std::string& path, int& err) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (::access(path.c_str(), X_OK) == 0) return true;
  err = EACCES;
  return false;
}

// Finds a bare program name on the PATH. Returns the host path of the first
// executable file of that name, or "" (`err` is then EACCES when a file of
// that name was found that cannot be executed).
std::string SearchPath(const std::string& name, int& err) {
  const char* env = std::getenv("PATH");
  std::string path = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    // An empty entry means the working directory.
    const std::string dir = end > start ? path.substr(start, end - start) : std::string(".");
    std::string candidate = dir + "/" + name;
    if (IsRunnable(candidate, err)) return candidate;
    start = end + 1;
  }
  return {};
}

void WaitForChild(pid_t pid, int& status) {
  // A signal handler (Ctrl-C presses Cancel) may interrupt the wait; the
  // program is still running then, so wait again until it has ended.
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) RaiseLastErrno([&] { return L"Cannot wait for a started program"; });
  }
}

// Marks every descriptor above standard error close-on-exec. Runs in the
// forked child, so it makes only async-signal-safe calls.
void CloseOnExecAbove2() {
#if defined(__linux__) && defined(CLOSE_RANGE_CLOEXEC)
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
  long max = ::sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = 3; fd < max; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Owns a library loaded with dlopen.
class Library {
 public:
  explicit Library(void* handle) : handle_(handle) {}
  ~Library() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool Valid() const { return handle_ != nullptr; }
  void* Get() const { return handle_; }

 private:
  void* handle_;
};

}  // namespace

std::vector<std::wstring> SplitWindowsArguments(const std::wstring& arguments) {
  std::vector<std::wstring> out;
  std::size_t i = 0;
  const std::size_t n = arguments.size();
  for (;;) {
    while (i < n && IsBlank(arguments[i])) ++i;
    if (i >= n) break;
    std::wstring arg;
    bool quoted = false;
    for (;;) {
      std::size_t slashes = 0;
      while (i < n && arguments[i] == L'\\') {
        ++slashes;
        ++i;
      }
      bool copy = true;
      if (i < n && arguments[i] == L'"') {
        if (slashes % 2 == 0) {
          if (quoted && i + 1 < n && arguments[i + 1] == L'"') {
            ++i;  // "" inside quotes: the second one is copied as a literal quote
          } else {
            copy = false;
            quoted = !quoted;
          }
        }
        slashes /= 2;
      }
      arg.append(slashes, L'\\');
      if (i >= n || (!quoted && IsBlank(arguments[i]))) break;
      if (copy) arg.push_back(arguments[i]);
      ++i;
    }
    out.push_back(std::move(arg));
  }
  return out;
}

int PosixProcesses::Run(const std::wstring& program, const std::wstring& arguments) {
  // A NUL would cut the name or an argument short and start another program
  // or hand it other arguments.
  if (platform::path::HasNul(program) || platform::path::HasNul(arguments))
    throw VslError(L"Cannot start " + program.substr(0, program.find(L'\0')) +
                   L": the program name or its arguments hold a NUL character");
  std::string file;               // host path handed to exec
  std::vector<std::string> args;  // argv, program name first
  bool bare = program.find_first_of(L"\\/") == std::wstring::npos && !(program.size() >= 2 && program[1] == L':');
  if (bare && !program.empty()) {
    // A bare name is a program on the PATH, so that a file of that name in
    // the current directory does not shadow a system program. Only when the
    // PATH has none is an executable file of that name in the current
    // directory of the current drive started (a registration names its
    // server there after finding the file).
    std::string name = text::ToUtf8(program);
    int err = ENOENT;
    file = SearchPath(name, err);
    if (file.empty()) {
      std::string local = fs_.HostPath(program);
      if (IsRunnable(local, err)) file = local;
    }
    if (file.empty()) RaiseErrno(err, L"Cannot start " + program);
    args.push_back(name);
  } else {
    if (program.empty()) throw VslError(L"Cannot start a program without a name");
    try {
      file = fs_.HostPath(program);
    } catch (const VslError& e) {
      throw VslError(L"Cannot start " + program + L": " + AsReason(e.Description()));
    }
    args.push_back(file);
  }
  for (const auto& a : SplitWindowsArguments(arguments)) args.push_back(text::ToUtf8(a));
  return Start(program, file, std::move(args));
}

int PosixProcesses::RunCommandLine(const std::wstring& interpreter, const std::wstring& commandLine) {
  // The Windows interpreter named by `interpreter` has its POSIX stand-in:
  // the line goes to the shell unsplit.
  if (platform::path::HasNul(commandLine))
    throw VslError(L"Cannot run the command line " + commandLine.substr(0, commandLine.find(L'\0')) +
                   L": it holds a NUL character");
  return Start(interpreter, "/bin/sh", {"sh", "-c", text::ToUtf8(commandLine)});
}

int PosixProcesses::Start(const std::wstring& program, const std::string& file, std::vector<std::string> args) {
  const std::string cwd = fs_.HostPath(fs_.CurrentDir());

  // Everything the child needs is prepared before fork: the child only makes
  // async-signal-safe calls.
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) RaiseLastErrno([&] { return L"Cannot start " + program; });
  Fd readEnd(pipeFds[0]);
  Fd writeEnd(pipeFds[1]);

  // Output written so far must come before the program's own output.
  if (beforeStart_) beforeStart_();
  std::fflush(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) RaiseLastErrno([&] { return L"Cannot start " + program; });
  if (pid == 0) {
    // The program starts with default signal handling and nothing blocked,
    // whatever this process has set up for itself (Ctrl-C handling).
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int s = 1; s < NSIG; ++s) {
      if (s != SIGKILL && s != SIGSTOP) ::sigaction(s, &dfl, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Like a Windows program started without handle inheritance, the
    // program gets standard input, output and error and nothing else (the
    // registry database, for one, stays private to this process).
    CloseOnExecAbove2();
    ChildFailure failure{kStageDirectory, 0};
    if (::chdir(cwd.c_str()) == 0) {
      ::execv(file.c_str(), argv.data());
      failure.stage = kStageExec;
    }
    failure.error = errno;
    ssize_t written = ::write(pipeFds[1], &failure, sizeof failure);
    (void)written;
    ::_exit(127);
  }
  writeEnd.Close();

  ChildFailure failure{};
  ssize_t got;
  do {
    got = ::read(readEnd.Get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);

  int status = 0;
  WaitForChild(pid, status);
  // The program may have changed any part of the file system.
  fs_.Forget();
  if (got == static_cast<ssize_t>(sizeof failure)) {
    if (failure.stage == kStageDirectory) {
      RaiseErrno(failure.error, L"Cannot start " + program + L" in the directory " + text::FromUtf8(cwd));
    }
    RaiseErrno(failure.error, L"Cannot start " + program);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return status;
}

std::optional<long> PosixProcesses::CallEntryPoint(const std::wstring& library, const char* entry) {
  std::string host;
  try {
    host = fs_.HostPath(library);
  } catch (const VslError&) {
    return std::nullopt;
  }
  Library loaded(::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!loaded.Valid()) return std::nullopt;
  void* symbol = ::dlsym(loaded.Get(), entry);
  if (symbol == nullptr) return std::nullopt;
  using EntryPoint = int (*)();
  const long status = reinterpret_cast<EntryPoint>(symbol)();
  // The library may have changed any part of the file system.
  fs_.Forget();
  return status;
}

}  // namespace posix
