// Starting programs on POSIX: argument rules, the PATH search, /bin/sh, inherited descriptors and signals.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TestMachine.h"
#include "platform/posix/Processes.h"

TEST(SplitWindowsArguments, FollowsTheCRuntimeRules) {
  // Backslashes not before a quote are literal; 2n + quote: n, the quote toggles; 2n+1 + quote: n and
  // a literal quote; "" inside quotes is a literal quote and quoting goes on, outside an empty part.
  const std::pair<const wchar_t*, std::vector<std::wstring>> cases[] = {{L"", {}}, {L"   \t ", {}},
      {L"  lead and\ttrail  ", {L"lead", L"and", L"trail"}}, {L"\"a b\" c", {L"a b", L"c"}}, {L"a\"b c\"d", {L"ab cd"}},
      {L"\"\" \"\"", {L"", L""}}, {L"\"unterminated quote", {L"unterminated quote"}},
      {L"\\\\server\\share\\", {L"\\\\server\\share\\"}}, {L"a\\\\\"b c\"", {L"a\\b c"}},
      {L"\"C:\\Program Files\\x\\\\\" next", {L"C:\\Program Files\\x\\", L"next"}}, {L"a\\\"b", {L"a\"b"}},
      {L"a\\\\\\\"b", {L"a\\\"b"}}, {L"\"in \\\"quotes\\\" too\"", {L"in \"quotes\" too"}}, {L"\"a\"\"b\"", {L"a\"b"}},
      {L"\"say \"\"hi there\"\"\" x", {L"say \"hi there\"", L"x"}}, {L"a\"\"b", {L"ab"}}};
  for (const auto& [input, expected] : cases) EXPECT_EQ(posix::SplitWindowsArguments(input), expected) << text::ToUtf8(input);
}

class PosixProcesses : public ::testing::Test {
 protected:
  TestMachine m;
  platform::Processes& proc = m.Proc();
  platform::ScopedPlatform installed{m.Pieces()};
  // An executable (or, with mode 0644, a plain) shell script in the scratch directory.
  std::wstring Script(const std::wstring& rel, const std::string& body, mode_t mode = 0755) {
    m.Write(rel, "#!/bin/sh\n" + body);
    ::chmod(m.HostPath(rel).c_str(), mode);
    return m.Path(rel);
  }
};

TEST_F(PosixProcesses, ProgramsAreFoundOnThePathFirstAndGetUtf8ArgumentsAndTheirStatusOrSignal) {
  auto prog = Script(L"args.sh", "printf '%s|' \"$@\" > args.txt\n[ \"$1\" = kill ] && kill -TERM $$\nexit \"$2\"\n");
  EXPECT_EQ(proc.Run(prog, L"\"caf\u00e9 \u20ac\" 3 \"s\"\"q\""), 3);
  EXPECT_EQ(m.Read(L"args.txt"), "caf\xc3\xa9 \xe2\x82\xac|3|s\"q|");
  EXPECT_EQ(proc.Run(prog, L"kill 0"), 128 + SIGTERM);
  m.SetEnv("PATH", "/nonexistent:" + m.HostPath(L"bin") + ":/usr/bin:/bin");
  Script(L"bin/tool.sh", "printf 'path,%s' \"$1\" > which.txt\nexit 3\n");
  Script(L"tool.sh", "echo local > which.txt\n");  // does not shadow the one on the PATH
  EXPECT_EQ(proc.Run(L"tool.sh", L"\"x y\""), 3);
  EXPECT_EQ(m.Read(L"which.txt"), "path,x y");
  Script(L"echo", "", 0644);  // nor does a file that cannot be executed
  EXPECT_EQ((std::vector{proc.Run(L"echo", L"-n"), proc.Run(L"sh", L"-c \"exit 4\"")}), (std::vector{0, 4}));
}

TEST_F(PosixProcesses, TheShellGetsOnlyTheStandardDescriptors) {
  const int open = ::open(m.HostPath().c_str(), O_RDONLY);  // no O_CLOEXEC
  const int inherited = proc.RunCommandLine(
      m.Interpreter(), L"test -e /dev/fd/" + text::Decimal(open) + L" && exit 1; test -e /dev/fd/2 || exit 2; exit 0");
  ::close(open);
  EXPECT_EQ(inherited, 0);
  // A current directory that is gone is the reason a program cannot start.
  auto ok = Script(L"ok.sh", "exit 0\n");
  m.MakeDir(L"gone");
  m.Fs().ChangeDir(m.Path(L"gone"));
  ASSERT_EQ(::rmdir(m.HostPath(L"gone").c_str()), 0);
  EXPECT_EQ(Raised([&] { proc.Run(ok, L""); }), L"Cannot start " + ok + L" in the directory " +
                                                    text::FromUtf8(m.HostPath(L"gone")) + L": no such file or directory");
}

struct SignalState {  // restores a signal's disposition and the signal mask
  int sig;
  struct sigaction action{};
  sigset_t mask{};
  explicit SignalState(int s) : sig(s) { ::sigaction(sig, nullptr, &action), ::sigprocmask(SIG_SETMASK, nullptr, &mask); }
  ~SignalState() { ::sigaction(sig, &action, nullptr), ::sigprocmask(SIG_SETMASK, &mask, nullptr); }
};

TEST_F(PosixProcesses, ProgramsStartWithDefaultSignals) {
  auto prog = Script(L"term.sh", "kill -TERM $$\nexit 0\n");
  SignalState keep(SIGTERM);
  ::signal(SIGTERM, SIG_IGN);
  EXPECT_EQ(proc.Run(prog, L""), 128 + SIGTERM) << "an ignored signal must not stay ignored";
  ::signal(SIGTERM, SIG_DFL);
  sigset_t block;
  sigemptyset(&block), sigaddset(&block, SIGTERM), ::sigprocmask(SIG_BLOCK, &block, nullptr);
  EXPECT_EQ(proc.Run(prog, L""), 128 + SIGTERM) << "a blocked signal must not stay blocked";
}
