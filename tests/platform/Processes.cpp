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
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L""), 0);
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L"--exit 255"), 255);
  EXPECT_EQ(m.Proc().RunCommandLine(m.Interpreter(), L"echo one>out.txt"), 0);
  EXPECT_EQ(m.Read(L"sub dir/out.txt"), lines({"one"}));
  EXPECT_EQ(m.Proc().RunCommandLine(m.Interpreter(), L"exit 9"), 9);
  m.Fs().ChangeDir(m.Path());
  // Programs that cannot start fail.
  const std::wstring missing = m.Path(L"missing.exe"), nul(1, L'\0');
  EXPECT_EQ(Raised([&] { m.Proc().Run(missing, L""); }).rfind(L"Cannot start " + missing + L": ", 0), 0u);
  EXPECT_THROW(m.Proc().Run(L"", L""), VslError);
  // A NUL in the program's name, its arguments or a command line is refused.
  EXPECT_THROW(m.Proc().Run(m.HelperProgram() + nul + L"x", L""), VslError);
  EXPECT_THROW(m.Proc().Run(m.HelperProgram(), L"a" + nul + L"b"), VslError);
  EXPECT_THROW(m.Proc().RunCommandLine(m.Interpreter(), L"echo x>out.txt" + nul + L"x"), VslError);
  EXPECT_FALSE(m.Exists(L"args.txt"));
  EXPECT_FALSE(m.Exists(L"out.txt"));
  EXPECT_EQ(Raised([&] { m.Proc().RegisterTypeLibrary(m.Path(L"t.tlb")); }).rfind(L"Cannot register the type library " + m.Path(L"t.tlb") + L": ", 0), 0u);
  // Library entry points: their status, or nothing when they cannot be called.
  m.SetEnv("VSL_TEST_REGISTER_RESULT", "7");
  m.Write(L"fake.dll", "MZ not a library");
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllRegisterServer"), std::optional<long>(7));
  EXPECT_EQ(m.Proc().CallEntryPoint(m.HelperLibrary(), "DllUnregisterServer"), std::optional<long>(0));
  const std::pair<std::wstring, const char*> uncallable[] = {{m.HelperLibrary(), "DllCanUnloadNow"},
      {m.Path(L"missing.dll"), "DllRegisterServer"}, {m.HelperLibrary() + nul, "DllRegisterServer"}, {m.Path(L"fake.dll"), "DllRegisterServer"}};
  for (const auto& [lib, entry] : uncallable)
    EXPECT_EQ(m.Proc().CallEntryPoint(lib, entry), std::nullopt) << entry;
}
