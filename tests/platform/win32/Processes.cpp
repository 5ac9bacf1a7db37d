// What starting programs adds on Windows: messages flow while a program is
// awaited, the drive's own directory, type libraries, and the argument text
// of the program's own command line.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"
#include "platform/Text.h"
#include "platform/win32/Processes.h"
#include "platform/win32/System.h"

namespace {

TEST(Win32Processes, MessagesFlowWhileAProgramIsAwaited) {
  TestMachine m;
  int pumped = 0;
  static_cast<win32::Win32Processes&>(m.Proc()).SetMessagePump([&] {
    ++pumped;
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
  });
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, nullptr);
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L"--sleep 400 --exit 3"), 3);
  ::KillTimer(nullptr, timer);
  EXPECT_GE(pumped, 3);
}

TEST(Win32Processes, ProgramsStartInTheCurrentDirectoryOfTheCurrentDrive) {
  TestMachine m;
  m.Fs().ChangeDrive(L"Z");
  EXPECT_EQ(m.Proc().RunCommandLine(m.Interpreter(), L"cd>" + m.Path(L"cd.txt")), 0);
  EXPECT_EQ(m.Read(L"cd.txt"), win32::ToAnsiLossy(m.Fs().CurrentDir()) + "\r\n");
}

TEST(Win32Processes, TypeLibrariesAreRegistered) {
  TestMachine m;
  // The standard OLE type library that every Windows has.
  m.Proc().RegisterTypeLibrary(m.Sys().WindowsDir() + L"\\system32\\stdole2.tlb");
  HKEY key = nullptr;
  EXPECT_EQ(::RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\{00020430-0000-0000-C000-000000000046}", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  if (key != nullptr) ::RegCloseKey(key);
}

TEST(Win32CommandLine, TheArgumentTextFollowsTheProgramName) {
  const std::pair<const char*, const char*> cases[] = {
      {"vsl.exe script.vsl", "script.vsl"},
      {"\"C:\\Program Files\\vsl.exe\"  \"a b.vsl\" ", "\"a b.vsl\" "},
      {"\"C:\\Program Files\\vsl.exe\"x y", "y"},
      {"vsl.exe\t  a  b", "a  b"},
      {"vsl.exe", ""},
      {"\"unclosed name", ""},
      {"", ""},
  };
  for (const auto& [line, text] : cases) EXPECT_EQ(win32::ArgumentText(line), text) << line;
}

}  // namespace
