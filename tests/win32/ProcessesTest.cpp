// Starting programs, the command interpreter, registration entry points and
// type libraries on Windows.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "platform/win32/Processes.h"
#include "platform/win32/System.h"

namespace {

using wintest::ReadFileBytes;

class Win32ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_.ChangeDrive(L"C");
    fs_.ChangeDir(dir_.WPath());
  }
  std::wstring Helper(const char* name) { return win32::FromAnsi(wintest::ExeDir() + "\\" + name); }
  std::wstring Interpreter() { return system_.WindowsDir() + L"\\system32\\cmd.exe"; }

  wintest::DirectoryGuard guard_;
  wintest::ScratchDir dir_;
  win32::Win32FileSystem fs_;
  win32::Win32System system_{fs_, 0, nullptr};
  win32::Win32Processes processes_{fs_};
};

TEST_F(Win32ProcessesTest, ProgramsGetTheirArgumentsAndAreAwaited) {
  const DWORD start = ::GetTickCount();
  const int status = processes_.Run(Helper(VSL_TEST_SLEEPER), L"--sleep 300 \"two words\" a\\\"b --exit 5");
  EXPECT_GE(::GetTickCount() - start, 250u);
  EXPECT_EQ(status, 5);
  // The program ran in the current directory of the current drive and
  // wrote its lines in text mode.
  EXPECT_EQ(ReadFileBytes(dir_.Path("args.txt")), "[--sleep]\r\n[300]\r\n[two words]\r\n[a\"b]\r\n[--exit]\r\n[5]\r\n");
}

TEST_F(Win32ProcessesTest, MessagesFlowWhileAProgramIsAwaited) {
  int pumped = 0;
  processes_.SetMessagePump([&] {
    ++pumped;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  });
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, nullptr);
  processes_.Run(Helper(VSL_TEST_SLEEPER), L"--sleep 400");
  ::KillTimer(nullptr, timer);
  EXPECT_GE(pumped, 3);
}

TEST_F(Win32ProcessesTest, TheCommandInterpreterRunsTheLineAfterSlashC) {
  EXPECT_EQ(processes_.RunCommandLine(Interpreter(), L"echo one>out.txt& exit 7"), 7);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out.txt")), "one\r\n");
  // After a change of drive the program starts in that drive's directory.
  fs_.ChangeDrive(L"Z");
  const std::string z = win32::ToAnsiLossy(fs_.CurrentDir());
  EXPECT_EQ(processes_.RunCommandLine(Interpreter(), L"cd>vsl_cd_test.txt"), 0);
  const std::string seen = ReadFileBytes(z + "\\vsl_cd_test.txt");
  ::DeleteFileA((z + "\\vsl_cd_test.txt").c_str());
  EXPECT_EQ(seen, z + "\r\n");
}

TEST_F(Win32ProcessesTest, ProgramsThatCannotStartFail) {
  try {
    processes_.Run(dir_.WPath("missing.exe"), L"");
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description().rfind(L"Cannot start " + dir_.WPath("missing.exe") + L": ", 0), 0u) << e.what();
  }
  EXPECT_THROW(processes_.Run(L"", L""), VslError);
  EXPECT_THROW(processes_.Run(Helper(VSL_TEST_SLEEPER), std::wstring(L"a\0b", 3)), VslError);
  EXPECT_THROW(processes_.RunCommandLine(Interpreter(), std::wstring(L"echo\0x", 6)), VslError);
  EXPECT_EQ(ReadFileBytes(dir_.Path("args.txt")), "");
}

TEST_F(Win32ProcessesTest, RegistrationEntryPointsAreCalledWithTheirStatus) {
  const std::string log = dir_.Path("server.log");
  _putenv_s("VSL_TEST_SERVER_LOG", log.c_str());
  _putenv_s("VSL_TEST_REGISTER_RESULT", "5");
  EXPECT_EQ(processes_.CallEntryPoint(Helper(VSL_TEST_DLL), "DllRegisterServer"), std::optional<long>(5));
  _putenv_s("VSL_TEST_REGISTER_RESULT", "0");
  EXPECT_EQ(processes_.CallEntryPoint(Helper(VSL_TEST_DLL), "DllRegisterServer"), std::optional<long>(0));
  EXPECT_EQ(processes_.CallEntryPoint(Helper(VSL_TEST_DLL), "DllUnregisterServer"), std::optional<long>(0));
  EXPECT_EQ(processes_.CallEntryPoint(Helper(VSL_TEST_DLL), "NoSuchEntry"), std::nullopt);
  EXPECT_EQ(processes_.CallEntryPoint(dir_.WPath("missing.dll"), "DllRegisterServer"), std::nullopt);
  wintest::WriteFileBytes(dir_.Path("fake.dll"), "MZ not really");
  EXPECT_EQ(processes_.CallEntryPoint(dir_.WPath("fake.dll"), "DllRegisterServer"), std::nullopt);
  _putenv_s("VSL_TEST_SERVER_LOG", "");
  // The library writes its log in text mode.
  EXPECT_EQ(ReadFileBytes(log), "DllRegisterServer\r\nDllRegisterServer\r\nDllUnregisterServer\r\n");
}

TEST_F(Win32ProcessesTest, TypeLibrariesAreRegistered) {
  // The standard OLE type library that every Windows has.
  processes_.RegisterTypeLibrary(system_.WindowsDir() + L"\\system32\\stdole2.tlb");
  HKEY key = nullptr;
  EXPECT_EQ(::RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\{00020430-0000-0000-C000-000000000046}", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  if (key != nullptr) ::RegCloseKey(key);
  try {
    processes_.RegisterTypeLibrary(dir_.WPath("missing.tlb"));
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description().rfind(L"Cannot register the type library " + dir_.WPath("missing.tlb") + L": ", 0), 0u)
        << e.what();
  }
}

}  // namespace
