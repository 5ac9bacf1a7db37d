#include <gtest/gtest.h>

#include "ProcTestSupport.h"
#include "platform/posix/Processes.h"
#include "utility/Utility.h"

using proctest::ReadHostFile;
using proctest::ScratchDir;
using proctest::WriteHostFile;

namespace {

int gCalls = 0;
int ReturnsZero() { ++gCalls; return 0; }
int ReturnsTwo() { ++gCalls; return 2; }

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_.current = dir_.Drive();
    platform::Platform p;
    p.fileSystem = &fs_;
    p.processes = &procs_;
    p.system = &sys_;
    scoped_ = std::make_unique<platform::ScopedPlatform>(p);
    gCalls = 0;
    WriteHostFile(dir_.Host("server.dll"), "library");
    WriteHostFile(dir_.Host("server.exe"), "program", 0755);
  }
  std::wstring Dll() const { return dir_.Drive(L"server.dll"); }
  std::wstring Exe() const { return dir_.Drive(L"server.exe"); }
  void Serve(std::map<std::string, int (*)()> symbols) { procs_.libraries[Dll()] = std::move(symbols); }

  ScratchDir dir_;
  proctest::HostFs fs_;
  proctest::FakeProcesses procs_;
  proctest::FakeSystem sys_;
  std::unique_ptr<platform::ScopedPlatform> scoped_;
};

TEST_F(LaunchTest, RegistrationOfAMissingFileAnswersFalseWithoutACall) {
  const std::wstring missing = dir_.Drive(L"missing.dll");
  EXPECT_FALSE(Utility::RegDLL(missing));
  EXPECT_FALSE(Utility::UnregDLL(missing));
  EXPECT_FALSE(Utility::RegTLB(missing));
  EXPECT_FALSE(Utility::RegEXE(missing));
  EXPECT_FALSE(Utility::UnregEXE(missing));
  EXPECT_TRUE(procs_.loads.empty());
  EXPECT_TRUE(procs_.runs.empty());
  // A directory is no file either.
  ASSERT_EQ(::mkdir(dir_.Host("d.dll").c_str(), 0755), 0);
  EXPECT_FALSE(Utility::RegDLL(dir_.Drive(L"d.dll")));
  EXPECT_TRUE(procs_.loads.empty());
}

TEST_F(LaunchTest, RegDllIsTrueOnlyForStatusZero) {
  Serve({{"DllRegisterServer", ReturnsZero}});
  EXPECT_TRUE(Utility::RegDLL(Dll()));
  Serve({{"DllRegisterServer", ReturnsTwo}});
  EXPECT_FALSE(Utility::RegDLL(Dll()));
  Serve({});
  EXPECT_FALSE(Utility::RegDLL(Dll()));
  EXPECT_EQ(gCalls, 2);
}

TEST_F(LaunchTest, UnregDllIsTrueForAnyStatusButZero) {
  Serve({{"DllUnregisterServer", ReturnsZero}});
  EXPECT_TRUE(Utility::UnregDLL(Dll()));
  Serve({{"DllUnregisterServer", ReturnsTwo}});
  EXPECT_FALSE(Utility::UnregDLL(Dll()));
  Serve({});
  EXPECT_FALSE(Utility::UnregDLL(Dll()));
}

TEST_F(LaunchTest, AQuotedRegistrationPathReachesTheLibrary) {
  Serve({{"DllRegisterServer", ReturnsZero}});
  EXPECT_TRUE(Utility::RegDLL(L"\"" + Dll() + L"\""));
  ASSERT_EQ(procs_.loads.size(), 1u);
  EXPECT_EQ(procs_.loads[0], Dll());
}

TEST_F(LaunchTest, RegTlbAnswersFalseInsteadOfFailing) {
  WriteHostFile(dir_.Host("a.tlb"), "tlb");
  EXPECT_FALSE(Utility::RegTLB(dir_.Drive(L"a.tlb")));
}

TEST_F(LaunchTest, ExeServersAreStartedWithTheirSwitch) {
  EXPECT_TRUE(Utility::RegEXE(Exe()));
  EXPECT_TRUE(Utility::UnregEXE(L"\"" + Exe() + L"\""));
  ASSERT_EQ(procs_.runs.size(), 2u);
  EXPECT_EQ(procs_.runs[0].program, Exe());
  EXPECT_EQ(procs_.runs[0].arguments, L"/RegServer");
  EXPECT_EQ(procs_.runs[1].program, Exe());
  EXPECT_EQ(procs_.runs[1].arguments, L"/UnregServer");
}

TEST_F(LaunchTest, RunRemovesEnclosingQuotesFromProgramAndArguments) {
  EXPECT_TRUE(Utility::Run(L"\"C:\\Program Files\\x.exe\"", L"\"-a \"b c\"\""));
  EXPECT_TRUE(Utility::Run(L"\"half", L"plain \"quoted\""));
  EXPECT_TRUE(Utility::Run(dir_.Drive(L"does-not-exist.exe"), L""));
  ASSERT_EQ(procs_.runs.size(), 3u);
  EXPECT_EQ(procs_.runs[0].program, L"C:\\Program Files\\x.exe");
  EXPECT_EQ(procs_.runs[0].arguments, L"-a \"b c\"");
  EXPECT_EQ(procs_.runs[1].program, L"\"half");
  EXPECT_EQ(procs_.runs[1].arguments, L"plain \"quoted\"");
  EXPECT_EQ(procs_.runs[2].program, dir_.Drive(L"does-not-exist.exe")) << "Run makes no existence test";
}

TEST_F(LaunchTest, RunRemovesOnlyOnePairOfQuotes) {
  EXPECT_TRUE(Utility::Run(L"\"\"C:\\a b\\x.exe\"\"", L"\"\"one arg\"\""));
  ASSERT_EQ(procs_.runs.size(), 1u);
  EXPECT_EQ(procs_.runs[0].program, L"\"C:\\a b\\x.exe\"");
  EXPECT_EQ(procs_.runs[0].arguments, L"\"one arg\"");
}

TEST_F(LaunchTest, RunShellCmdChoosesTheInterpreter) {
  sys_.windowsDir = L"C:\\WINNT";
  Utility::RunShellCmd(L"\"copy a b\"");
  sys_.nt = false;
  Utility::RunShellCmd(L"dir \"x y\"");
  ASSERT_EQ(procs_.commandLines.size(), 2u);
  EXPECT_EQ(procs_.commandLines[0].program, L"C:\\WINNT\\system32\\cmd.exe");
  EXPECT_EQ(procs_.commandLines[0].arguments, L"copy a b");
  EXPECT_EQ(procs_.commandLines[1].program, L"C:\\COMMAND.COM");
  EXPECT_EQ(procs_.commandLines[1].arguments, L"dir \"x y\"");
  EXPECT_TRUE(procs_.runs.empty());
}

TEST_F(LaunchTest, RunShellCmdThroughTheRealShell) {
  proctest::RealFs realFs(dir_);
  posix::PosixProcesses real(realFs.fs);
  platform::Platform p = platform::Current();
  p.processes = &real;
  platform::ScopedPlatform scoped(p);
  Utility::RunShellCmd(L"\"echo 'it ran' | tr a-z A-Z > shell.txt\"");
  EXPECT_EQ(ReadHostFile(dir_.Host("shell.txt")), "IT RAN\n");
}

TEST_F(LaunchTest, WriteFileReturnsItsDataAndWritesTheUnquotedPath) {
  const std::wstring data = L"\"quoted\" $ data";
  EXPECT_EQ(Utility::WriteFile(L"\"" + dir_.Drive(L"w.txt") + L"\"", data), data);
  EXPECT_EQ(Utility::WriteFile(dir_.Drive(L"w.txt"), L"second"), L"second");
  EXPECT_EQ(ReadHostFile(dir_.Host("w.txt")), "\"quoted\" $ data\nsecond\n");
}

TEST_F(LaunchTest, IsFileWritable) {
  WriteHostFile(dir_.Host("rw.txt"), "x", 0644);
  WriteHostFile(dir_.Host("ro.txt"), "x", 0444);
  EXPECT_TRUE(Utility::IsFileWritable(dir_.Drive(L"rw.txt")));
  EXPECT_TRUE(Utility::IsFileWritable(L"\"" + dir_.Drive(L"rw.txt") + L"\""));
  EXPECT_FALSE(Utility::IsFileWritable(dir_.Drive(L"ro.txt")));
  EXPECT_TRUE(Utility::IsFileWritable(dir_.Drive(L"new.txt")));
  EXPECT_FALSE(Utility::IsFileWritable(dir_.Drive(L"nodir\\new.txt")));
}

}  // namespace
