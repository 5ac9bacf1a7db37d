#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/time.h>

#include "ProcTestSupport.h"
#include "platform/posix/Processes.h"

using proctest::ReadHostFile;
using proctest::ScratchDir;
using proctest::ScopedEnv;
using proctest::WriteHostFile;

namespace {

// ---- Argument splitting ----------------------------------------------------

struct SplitCase {
  const wchar_t* input;
  std::vector<std::wstring> expected;
};

TEST(SplitWindowsArguments, FollowsTheCRuntimeRules) {
  const SplitCase cases[] = {
      {L"", {}},
      {L"   \t ", {}},
      {L"a b  c", {L"a", L"b", L"c"}},
      {L"  lead and trail  ", {L"lead", L"and", L"trail"}},
      {L"a\tb", {L"a", L"b"}},
      {L"/RegServer", {L"/RegServer"}},
      {L"\"a b\" c", {L"a b", L"c"}},
      {L"a\"b c\"d", {L"ab cd"}},
      {L"\"\"", {L""}},
      {L"\"\" \"\"", {L"", L""}},
      {L"x \"\"", {L"x", L""}},
      {L"\"unterminated quote", {L"unterminated quote"}},
      // Backslashes not before a quote are literal.
      {L"a\\b", {L"a\\b"}},
      {L"\\\\server\\share\\", {L"\\\\server\\share\\"}},
      {L"C:\\x\\\\y", {L"C:\\x\\\\y"}},
      // 2n backslashes + quote: n backslashes, the quote toggles.
      {L"a\\\\\"b c\"", {L"a\\b c"}},
      {L"\"C:\\Program Files\\x\\\\\" next", {L"C:\\Program Files\\x\\", L"next"}},
      // 2n+1 backslashes + quote: n backslashes and a literal quote.
      {L"a\\\"b", {L"a\"b"}},
      {L"a\\\\\\\"b", {L"a\\\"b"}},
      {L"\"in \\\"quotes\\\" too\"", {L"in \"quotes\" too"}},
      // "" inside a quoted part is a literal quote, and quoting goes on.
      {L"\"a\"\"b\"", {L"a\"b"}},
      {L"\"say \"\"hi there\"\"\" x", {L"say \"hi there\"", L"x"}},
      // Outside quotes "" opens and closes an empty quoted part.
      {L"a\"\"b", {L"ab"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::SplitWindowsArguments(c.input), c.expected) << "input: " << text::ToUtf8(c.input);
  }
}

// ---- Running programs ------------------------------------------------------

class ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Platform p;
    p.fileSystem = &fs_;
    scoped_ = std::make_unique<platform::ScopedPlatform>(p);
  }

  // An executable script in the scratch directory.
  std::wstring Script(const std::string& name, const std::string& body) {
    WriteHostFile(dir_.Host(name), "#!/bin/sh\n" + body, 0755);
    return dir_.Drive(text::FromUtf8(name));
  }

  std::string Message(const std::wstring& program, const std::wstring& arguments) {
    try {
      procs_.Run(program, arguments);
    } catch (const VslError& e) {
      return e.what();
    }
    return "no error";
  }

  ScratchDir dir_;
  proctest::RealFs real_{dir_};
  posix::PosixFileSystem& fs_ = real_.fs;
  posix::PosixProcesses procs_{fs_};
  std::unique_ptr<platform::ScopedPlatform> scoped_;
};

TEST_F(ProcessesTest, PassesTheSplitArgumentsToTheProgram) {
  auto prog = Script("args.sh", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > args.txt\n");
  EXPECT_EQ(procs_.Run(prog, L"one \"two three\" four\\\"five \"\" six\\\\ \"s\"\"q\""), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("args.txt")), "[one]\n[two three]\n[four\"five]\n[]\n[six\\\\]\n[s\"q]\n");
}

TEST_F(ProcessesTest, PassesNonAsciiArgumentsAsUtf8) {
  auto prog = Script("args.sh", "printf '%s' \"$1\" > arg.txt\n");
  EXPECT_EQ(procs_.Run(prog, L"\"caf\u00e9 \u20ac\""), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("arg.txt")), "caf\xc3\xa9 \xe2\x82\xac");
}

TEST_F(ProcessesTest, ReturnsTheExitStatus) {
  auto prog = Script("exit.sh", "exit \"$1\"\n");
  EXPECT_EQ(procs_.Run(prog, L"0"), 0);
  EXPECT_EQ(procs_.Run(prog, L"7"), 7);
  EXPECT_EQ(procs_.Run(prog, L"255"), 255);
}

TEST_F(ProcessesTest, AKilledProgramGives128PlusTheSignal) {
  auto prog = Script("kill.sh", "kill -TERM $$\nexit 0\n");
  EXPECT_EQ(procs_.Run(prog, L""), 128 + SIGTERM);
}

TEST_F(ProcessesTest, RunsInTheCurrentDirectoryOfTheCurrentDrive) {
  ASSERT_EQ(::mkdir(dir_.Host("sub dir").c_str(), 0755), 0);
  auto prog = Script("pwd.sh", "pwd -P > where.txt\n");
  fs_.ChangeDir(dir_.Drive(L"sub dir"));
  EXPECT_EQ(procs_.Run(prog, L""), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("sub dir/where.txt")), dir_.Host("sub dir") + "\n");
}

TEST_F(ProcessesTest, ARelativeProgramPathIsMappedAgainstTheCurrentDirectory) {
  ASSERT_EQ(::mkdir(dir_.Host("sub").c_str(), 0755), 0);
  Script("sub/rel.sh", "echo \"$0\" > rel.txt\n");
  EXPECT_EQ(procs_.Run(L"sub\\rel.sh", L""), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("rel.txt")), dir_.Host("sub/rel.sh") + "\n");
}

TEST_F(ProcessesTest, ABareNameIsSearchedOnThePathBeforeTheCurrentDirectory) {
  ASSERT_EQ(::mkdir(dir_.Host("bin").c_str(), 0755), 0);
  WriteHostFile(dir_.Host("bin/tool.sh"), "#!/bin/sh\necho path > which.txt\n", 0755);
  ScopedEnv path("PATH", dir_.Host("bin") + ":/usr/bin:/bin");
  // An executable of the same name in the current directory does not shadow
  // the program on the PATH.
  Script("tool.sh", "echo local > which.txt\n");
  EXPECT_EQ(procs_.Run(L"tool.sh", L""), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("which.txt")), "path\n");
  // Nor does a file that cannot be executed: "echo" still runs the system's.
  WriteHostFile(dir_.Host("echo"), "not a program\n", 0644);
  EXPECT_EQ(procs_.Run(L"echo", L"-n"), 0);
}

TEST_F(ProcessesTest, ABareNameFallsBackToAnExecutableInTheCurrentDirectory) {
  ASSERT_EQ(::mkdir(dir_.Host("bin").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir_.Host("work").c_str(), 0755), 0);
  fs_.ChangeDir(dir_.Drive(L"work"));
  // Neither the directory the process runs in nor the PATH holds it.
  ScopedEnv path("PATH", dir_.Host("bin") + ":/usr/bin:/bin");
  WriteHostFile(dir_.Host("work/server.exe"), "#!/bin/sh\necho \"local $0 $1\" > which.txt\n", 0755);
  EXPECT_EQ(procs_.Run(L"server.exe", L"/RegServer"), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("work/which.txt")), "local " + dir_.Host("work/server.exe") + " /RegServer\n");
  // A file on the PATH that cannot be executed does not stop the search.
  WriteHostFile(dir_.Host("bin/server.exe"), "#!/bin/sh\necho path > which.txt\n", 0644);
  EXPECT_EQ(procs_.Run(L"server.exe", L""), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("work/which.txt")), "local " + dir_.Host("work/server.exe") + " \n");
  // With no executable anywhere, the one that cannot be executed is the reason.
  ::chmod(dir_.Host("work/server.exe").c_str(), 0644);
  EXPECT_EQ(Message(L"server.exe", L""), "Cannot start server.exe: permission denied");
  ::unlink(dir_.Host("bin/server.exe").c_str());
  EXPECT_EQ(Message(L"server.exe", L""), "Cannot start server.exe: permission denied");
}

TEST_F(ProcessesTest, SearchesTheProgramPathForABareName) {
  ASSERT_EQ(::mkdir(dir_.Host("bin").c_str(), 0755), 0);
  WriteHostFile(dir_.Host("bin/vsltestprog"), "#!/bin/sh\nprintf '%s,%s' \"$0\" \"$1\" > found.txt\nexit 3\n", 0755);
  ScopedEnv path("PATH", "/nonexistent:" + dir_.Host("bin") + ":/usr/bin:/bin");
  EXPECT_EQ(procs_.Run(L"vsltestprog", L"\"x y\""), 3);
  EXPECT_EQ(ReadHostFile(dir_.Host("found.txt")), dir_.Host("bin/vsltestprog") + ",x y");
  // System programs are found too.
  EXPECT_EQ(procs_.Run(L"sh", L"-c \"exit 4\""), 4);
}

TEST_F(ProcessesTest, ReportsAProgramThatCannotBeStarted) {
  EXPECT_EQ(Message(dir_.Drive(L"missing"), L""),
            "Cannot start " + text::ToUtf8(dir_.Drive(L"missing")) + ": no such file or directory");
  WriteHostFile(dir_.Host("plain.txt"), "not a program\n", 0644);
  EXPECT_EQ(Message(dir_.Drive(L"plain.txt"), L""),
            "Cannot start " + text::ToUtf8(dir_.Drive(L"plain.txt")) + ": permission denied");
  EXPECT_EQ(Message(L"vsl-no-such-program-anywhere", L""),
            "Cannot start vsl-no-such-program-anywhere: no such file or directory");
  EXPECT_EQ(Message(L"Q:\\setup.exe", L""), "Cannot start Q:\\setup.exe: the drive Q: does not exist");
  ASSERT_EQ(::mkdir(dir_.Host("bin").c_str(), 0755), 0);
  WriteHostFile(dir_.Host("bin/noexec"), "#!/bin/sh\n", 0644);
  ScopedEnv path("PATH", dir_.Host("bin"));
  EXPECT_EQ(Message(L"noexec", L""), "Cannot start noexec: permission denied");
}

TEST_F(ProcessesTest, AMissingWorkingDirectoryIsReported) {
  auto prog = Script("ok.sh", "exit 0\n");
  ASSERT_EQ(::mkdir(dir_.Host("gone").c_str(), 0755), 0);
  fs_.ChangeDir(dir_.Drive(L"gone"));
  ASSERT_EQ(::rmdir(dir_.Host("gone").c_str()), 0);
  EXPECT_EQ(Message(prog, L""), "Cannot start " + text::ToUtf8(prog) + " in the directory " + dir_.Host("gone") +
                                    ": no such file or directory");
}

TEST_F(ProcessesTest, TheCommandInterpreterRunsTheWholeLineThroughTheShell) {
  const std::wstring cmd = L"C:\\windows\\system32\\cmd.exe";
  EXPECT_EQ(procs_.RunCommandLine(cmd, L"echo 'a  b' \"c\" | tr a-z A-Z > piped.txt && echo done >> piped.txt"), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("piped.txt")), "A  B C\ndone\n");
  EXPECT_EQ(procs_.RunCommandLine(cmd, L"exit 9"), 9);
  EXPECT_EQ(procs_.RunCommandLine(cmd, L"pwd -P > wd.txt"), 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("wd.txt")), dir_.Host() + "\n");
  EXPECT_EQ(procs_.RunCommandLine(cmd, L""), 0);
  EXPECT_EQ(procs_.RunCommandLine(cmd, L"exit 2 # \\ backslashes stay \\\\ unsplit \\\""), 2);
}

TEST_F(ProcessesTest, OutputWrittenBeforeTheProgramComesFirst) {
  // Standard output goes to a file, so stdio buffers it fully.
  std::string out = dir_.Host("stdout.txt");
  std::fflush(stdout);
  int saved = ::dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
  std::printf("before|");
  int status = procs_.RunCommandLine(L"cmd.exe", L"printf after");
  std::printf("|end");
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadHostFile(out), "before|after|end");
}

TEST_F(ProcessesTest, TheProgramInheritsOnlyTheStandardDescriptors) {
  int fd = ::open(dir_.Host().c_str(), O_RDONLY);  // no O_CLOEXEC
  ASSERT_GE(fd, 3);
  std::wstring line = L"test -e /dev/fd/" + text::Decimal(fd) + L" && exit 1; test -e /dev/fd/2 || exit 2; exit 0";
  int status = procs_.RunCommandLine(L"cmd.exe", line);
  ::close(fd);
  EXPECT_EQ(status, 0);
}

// Restores a signal's disposition and the signal mask.
class SignalState {
 public:
  explicit SignalState(int sig) : sig_(sig) {
    ::sigaction(sig_, nullptr, &action_);
    ::sigprocmask(SIG_SETMASK, nullptr, &mask_);
  }
  ~SignalState() {
    ::sigaction(sig_, &action_, nullptr);
    ::sigprocmask(SIG_SETMASK, &mask_, nullptr);
  }

 private:
  int sig_;
  struct sigaction action_{};
  sigset_t mask_{};
};

TEST_F(ProcessesTest, TheProgramStartsWithDefaultSignalHandling) {
  auto prog = Script("term.sh", "kill -TERM $$\nexit 0\n");
  SignalState keep(SIGTERM);
  ::signal(SIGTERM, SIG_IGN);
  EXPECT_EQ(procs_.Run(prog, L""), 128 + SIGTERM) << "an ignored signal must not stay ignored";
  ::signal(SIGTERM, SIG_DFL);
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &block, nullptr);
  EXPECT_EQ(procs_.Run(prog, L""), 128 + SIGTERM) << "a blocked signal must not stay blocked";
}

volatile sig_atomic_t gAlarms = 0;
void OnAlarm(int) { gAlarms = gAlarms + 1; }

TEST_F(ProcessesTest, WaitsThroughInterruptingSignals) {
  // A handler without SA_RESTART interrupts waitpid, as the Ctrl-C handler
  // of the status dialog does; the program must still be awaited.
  SignalState keep(SIGALRM);
  struct sigaction sa{};
  sa.sa_handler = OnAlarm;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGALRM, &sa, nullptr);
  gAlarms = 0;
  itimerval timer{};
  timer.it_value.tv_usec = 50 * 1000;
  timer.it_interval.tv_usec = 50 * 1000;
  ::setitimer(ITIMER_REAL, &timer, nullptr);
  int status = procs_.RunCommandLine(L"cmd.exe", L"sleep 0.4; echo late > late.txt; exit 5");
  itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  EXPECT_EQ(status, 5);
  EXPECT_GT(gAlarms, 0);
  EXPECT_EQ(ReadHostFile(dir_.Host("late.txt")), "late\n");
}

// ---- Shared libraries --------------------------------------------------------

TEST_F(ProcessesTest, CallsTheEntryPointsOfASharedLibrary) {
  std::wstring dll = L"Z:" + text::FromUtf8(VSL_TEST_DLL);
  ScopedEnv reg("VSL_TEST_REGISTER_RESULT", "7");
  ScopedEnv unreg("VSL_TEST_UNREGISTER_RESULT", "0");
  EXPECT_EQ(procs_.CallEntryPoint(dll, "DllRegisterServer"), std::optional<long>(7));
  EXPECT_EQ(procs_.CallEntryPoint(dll, "DllUnregisterServer"), std::optional<long>(0));
  EXPECT_EQ(procs_.CallEntryPoint(dll, "DllCanUnloadNow"), std::nullopt);
}

TEST_F(ProcessesTest, CallEntryPointGivesNothingForWhatIsNoLibrary) {
  EXPECT_EQ(procs_.CallEntryPoint(dir_.Drive(L"missing.dll"), "DllRegisterServer"), std::nullopt);
  WriteHostFile(dir_.Host("text.dll"), "not a library\n");
  EXPECT_EQ(procs_.CallEntryPoint(dir_.Drive(L"text.dll"), "DllRegisterServer"), std::nullopt);
}

}  // namespace
