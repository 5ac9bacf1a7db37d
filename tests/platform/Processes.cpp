// Starting programs, the command interpreter and library entry points, as
// every backend does them.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

namespace {

using platform::Processes;

class ProcessesTest : public ::testing::Test {
 protected:
  TestMachine m;
  Processes& proc = m.Proc();
  std::string Lines(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines) out += std::string(l) + m.LineEnd();
    return out;
  }
};

TEST_F(ProcessesTest, ProgramsGetTheirArgumentsAndStatusInTheCurrentDirectory) {
  m.MakeDir(L"sub dir");
  m.Fs().ChangeDir(m.Path(L"sub dir"));
  EXPECT_EQ(proc.Run(m.HelperProgram(), L"one \"two three\"  a\\\"b \"\" c\\\\ --exit 7"), 7);
  EXPECT_EQ(m.Read(L"sub dir/args.txt"), Lines({"[one]", "[two three]", "[a\"b]", "[]", "[c\\\\]", "[--exit]", "[7]"}));
  EXPECT_EQ(proc.Run(m.HelperProgram(), L""), 0);
  EXPECT_EQ(proc.Run(m.HelperProgram(), L"--exit 255"), 255);
}

TEST_F(ProcessesTest, TheCommandInterpreterRunsTheWholeLine) {
  EXPECT_EQ(proc.RunCommandLine(m.Interpreter(), L"echo one>out.txt"), 0);
  EXPECT_EQ(m.Read(L"out.txt"), Lines({"one"}));
  EXPECT_EQ(proc.RunCommandLine(m.Interpreter(), L"exit 9"), 9);
}

TEST_F(ProcessesTest, ProgramsThatCannotStartFail) {
  const std::wstring missing = m.Path(L"missing.exe"), nul(1, L'\0');
  EXPECT_EQ(Raised([&] { proc.Run(missing, L""); }).rfind(L"Cannot start " + missing + L": ", 0), 0u);
  EXPECT_THROW(proc.Run(L"", L""), VslError);
  // A NUL in the program's name, its arguments or a command line is refused.
  EXPECT_THROW(proc.Run(m.HelperProgram() + nul + L"x", L""), VslError);
  EXPECT_THROW(proc.Run(m.HelperProgram(), L"a" + nul + L"b"), VslError);
  EXPECT_THROW(proc.RunCommandLine(m.Interpreter(), L"echo x>out.txt" + nul + L"x"), VslError);
  EXPECT_FALSE(m.Exists(L"args.txt"));
  EXPECT_FALSE(m.Exists(L"out.txt"));
  EXPECT_EQ(Raised([&] { proc.RegisterTypeLibrary(m.Path(L"missing.tlb")); })
                .rfind(L"Cannot register the type library " + m.Path(L"missing.tlb") + L": ", 0),
            0u);
}

TEST_F(ProcessesTest, LibraryEntryPointsAreCalledWithTheirStatus) {
  m.SetEnv("VSL_TEST_REGISTER_RESULT", "7");
  EXPECT_EQ(proc.CallEntryPoint(m.HelperLibrary(), "DllRegisterServer"), std::optional<long>(7));
  EXPECT_EQ(proc.CallEntryPoint(m.HelperLibrary(), "DllUnregisterServer"), std::optional<long>(0));
  EXPECT_EQ(proc.CallEntryPoint(m.HelperLibrary(), "DllCanUnloadNow"), std::nullopt);
  EXPECT_EQ(proc.CallEntryPoint(m.Path(L"missing.dll"), "DllRegisterServer"), std::nullopt);
  EXPECT_EQ(proc.CallEntryPoint(m.HelperLibrary() + std::wstring(1, L'\0'), "DllRegisterServer"), std::nullopt);
  m.Write(L"fake.dll", "MZ not a library");
  EXPECT_EQ(proc.CallEntryPoint(m.Path(L"fake.dll"), "DllRegisterServer"), std::nullopt);
}

}  // namespace
