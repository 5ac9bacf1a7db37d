// Starting programs, the command interpreter and library entry points, as every backend does them.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

TEST(Processes, ProgramsTheInterpreterAndLibraryEntryPointsRunWithTheirStatus) {
  TestMachine m;
  auto lines = [&](std::initializer_list<const char*> ls) {
    std::string out;
    for (const char* l : ls) out += std::string(l) + m.LineEnd();
    return out;
  };
  m.MakeDir(L"sub dir");
  m.Fs().ChangeDir(m.Path(L"sub dir"));
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L"one \"two three\"  a\\\"b \"\" c\\\\ --exit 7"), 7);
  EXPECT_EQ(m.Read(L"sub dir/args.txt"), lines({"[one]", "[two three]", "[a\"b]", "[]", "[c\\\\]", "[--exit]", "[7]"}));
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L"--exit 255"), 255);
  EXPECT_EQ(m.Proc().RunCommandLine(m.Interpreter(), L"echo one>out.txt"), 0);
  EXPECT_EQ(m.Read(L"sub dir/out.txt"), lines({"one"}));
  EXPECT_EQ(m.Proc().RunCommandLine(m.Interpreter(), L"exit 9"), 9);
  m.Fs().ChangeDir(m.Path());
  // Programs that cannot start fail (more in tests/scripts/process/run_*.vsl).
  const std::wstring nul(1, L'\0');
  EXPECT_THROW(m.Proc().Run(L"", L""), VslError);
  // A NUL in the program's name, its arguments or a command line is refused.
  EXPECT_THROW(m.Proc().Run(m.HelperProgram() + nul + L"x", L""), VslError);
  EXPECT_THROW(m.Proc().Run(m.HelperProgram(), L"a" + nul + L"b"), VslError);
  EXPECT_THROW(m.Proc().RunCommandLine(m.Interpreter(), L"echo x>out.txt" + nul + L"x"), VslError);
  EXPECT_FALSE(m.Exists(L"args.txt"));
  EXPECT_FALSE(m.Exists(L"out.txt"));
  // Library entry points: their status, or nothing when they cannot be called (files that are
  // missing or no library: tests/scripts/process/regdll.vsl).
  m.SetEnv("VSL_TEST_REGISTER_RESULT", "7");
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllRegisterServer"), std::optional<long>(7));
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllUnregisterServer"), std::optional<long>(0));
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllCanUnloadNow"), std::nullopt);
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary() + nul, "DllRegisterServer"), std::nullopt);
}
