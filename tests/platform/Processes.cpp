// Starting programs, the command interpreter and library entry points, as every backend does them.
// On POSIX tests/scripts/process/*.vsl also pin the splitting, the shell and the failures to start.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

TEST(Processes, ProgramsTheInterpreterAndLibraryEntryPointsRunWithTheirStatus) {
  TestMachine m;
  const std::string nl = m.LineEnd();
  const std::wstring nul(1, L'\0');
  m.MakeDir(L"sub dir");
  m.Fs().ChangeDir(m.Path(L"sub dir"));
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L"one \"two three\"  a\\\"b \"\" c\\\\ --exit 7"), 7);
  EXPECT_EQ(m.Read(L"sub dir/args.txt"),
            "[one]" + nl + "[two three]" + nl + "[a\"b]" + nl + "[]" + nl + "[c\\\\]" + nl + "[--exit]" + nl + "[7]" + nl);
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L"--exit 255"), 255);
  EXPECT_EQ(m.Proc().RunCommandLine(m.Interpreter(), L"exit 9"), 9);
  m.Fs().ChangeDir(m.Path());
  // No name at all, or a NUL in the program's name, its arguments or a command line, is refused.
  EXPECT_THROW(m.Proc().Run(L"", L""), VslError);
  EXPECT_THROW(m.Proc().Run(m.HelperProgram() + nul + L"x", L""), VslError);
  EXPECT_THROW(m.Proc().Run(m.HelperProgram(), L"a" + nul + L"b"), VslError);
  EXPECT_THROW(m.Proc().RunCommandLine(m.Interpreter(), L"echo x>out.txt" + nul + L"x"), VslError);
  EXPECT_FALSE(m.Exists(L"args.txt") || m.Exists(L"out.txt"));
  // Library entry points: their status, or nothing when they cannot be called (files that are
  // missing or no library: tests/scripts/process/regdll.vsl).
  m.SetEnv("VSL_TEST_REGISTER_RESULT", "7");
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllRegisterServer"), std::optional<long>(7));
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllUnregisterServer"), std::optional<long>(0));
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllCanUnloadNow"), std::nullopt);
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary() + nul, "DllRegisterServer"), std::nullopt);
}
