// Messages flow while a program is awaited; type libraries; the argument text (start directory: scripts/shell.vsl).
#include <gtest/gtest.h>

#include "platform/TestMachine.h"
#include "platform/win32/Processes.h"
#include "platform/win32/System.h"

namespace {

TEST(Win32Processes, MessagesFlowWhileAProgramIsAwaited) {
  TestMachine m;
  int pumped = 0;
  static_cast<win32::Win32Processes&>(m.Proc()).SetMessagePump([&] {
    ++pumped;
    for (MSG msg; ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) ::DispatchMessageA(&msg);
  });
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, nullptr);
  EXPECT_EQ(m.Proc().Run(m.HelperProgram(), L"--sleep 400 --exit 3"), 3);
  ::KillTimer(nullptr, timer);
  EXPECT_GE(pumped, 3);
}

TEST(Win32Processes, TypeLibrariesAreRegistered) {
  TestMachine m;
  // The standard OLE type library that every Windows has, its registration taken away first.
  const char* key = "TypeLib\\{00020430-0000-0000-C000-000000000046}\\2.0";
  ::RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
  m.Proc().RegisterTypeLibrary(m.Sys().WindowsDir() + L"\\system32\\stdole2.tlb");
  char name[64] = {};
  LONG size = sizeof name;
  EXPECT_EQ(::RegQueryValueA(HKEY_CLASSES_ROOT, key, name, &size), ERROR_SUCCESS);
  EXPECT_STREQ(name, "OLE Automation");
}

TEST(Win32CommandLine, TheArgumentTextFollowsTheProgramName) {
  const std::pair<const char*, const char*> cases[] = {
      {"vsl.exe script.vsl", "script.vsl"}, {"\"C:\\Program Files\\vsl.exe\"  \"a b.vsl\" ", "\"a b.vsl\" "},
      {"\"C:\\Program Files\\vsl.exe\"x y", "y"}, {"vsl.exe\t  a  b", "a  b"}, {"vsl.exe", ""},
      {"\"unclosed name", ""}, {"", ""}};
  for (const auto& [line, text] : cases) EXPECT_EQ(win32::ArgumentText(line), text) << line;
}

}  // namespace
