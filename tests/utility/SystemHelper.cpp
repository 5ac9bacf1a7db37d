// The system helper and what is built on it: COM registration, program launch, paths, writability.
#include <sys/wait.h>

#include "Doubles.h"
#include "utility/CSystemHelper.h"
#include "utility/Utility.h"

using SystemHelperTest = ScratchPlatform;

// Registration needs an existing file, not a directory (the servers' answers and switches: tests/scripts/process).
TEST_F(SystemHelperTest, RegistrationAndLaunch) {
  m.MakeDir(L"d.dll");
  for (const std::wstring& p : {m.Path(L"missing.dll"), m.Path(L"d.dll")})
    for (const auto& op : {Utility::RegDLL, Utility::UnregDLL, Utility::RegTLB, Utility::RegEXE, Utility::UnregEXE})
      EXPECT_FALSE(op(p));
  EXPECT_TRUE(procs.loads.empty());
  // Run takes one pair of quotes off each; what is left is started as it is.
  EXPECT_TRUE(Utility::Run(L"\"C:\\P F\\x.exe\"", L"\"-a \"b c\"\""));
  EXPECT_TRUE(Utility::Run(L"\"half", L"plain \"quoted\""));
  EXPECT_TRUE(Utility::Run(L"\"\"C:\\a b\\x.exe\"\"", L"\"\"one\"\""));
  Utility::RunShellCmd(L"\"copy a b\"");
  sys.nt = false;
  Utility::RunShellCmd(L"dir \"x y\"");
  EXPECT_EQ(procs.runs, (std::vector<std::wstring>{
                            L"C:\\P F\\x.exe|-a \"b c\"", L"\"half|plain \"quoted\"",
                            L"\"C:\\a b\\x.exe\"|\"one\"", L"shell C:\\windows\\system32\\cmd.exe|copy a b",
                            L"shell C:\\COMMAND.COM|dir \"x y\""}));
}

// Only the missing directories of a path are created, in order.
TEST_F(SystemHelperTest, CreatePath) {
  CSystemHelper helper;
  const std::pair<std::wstring, std::vector<std::wstring>> rows[] = {
      {m.Path(L"a\\b\\c"), {m.Path(L"a"), m.Path(L"a\\b"), m.Path(L"a\\b\\c")}},
      {m.Path(L"a\\b\\d\\e\\"), {m.Path(L"a\\b\\d"), m.Path(L"a\\b\\d\\e")}},
      {m.Path(L"a\\b\\c"), {}},  {L"r\\x", {L"r", L"r\\x"}},
      {text::FromUtf8(m.HostPath()) + L"/fwd//y/",
       {L"/" + m.Path(L"fwd").substr(3), L"/" + m.Path(L"fwd\\y").substr(3)}},
      {m.Path(L"p\\..\\q"), {m.Path(L"p"), m.Path(L"p\\..\\q")}},
      {L"Z:\\", {}},  {L"", {}},
  };
  for (const auto& [path, created] : rows) {
    fs.created.clear();
    helper.CreatePath(path);
    EXPECT_EQ(fs.created, created) << text::ToUtf8(path);
  }
  for (const wchar_t* d : {L"a/b/c", L"a/b/d/e", L"r/x", L"fwd/y", L"p", L"q"})
    EXPECT_TRUE(std::filesystem::is_directory(m.HostPath(d))) << d;
  m.Write(L"a/f", "x");
  EXPECT_EQ(Raised([&] { helper.CreatePath(m.Path(L"a\\f\\g")); }),
            L"Cannot create the directory " + m.Path(L"a\\f\\g") + L": " + m.Path(L"a\\f") + L" is a file");
  EXPECT_TRUE(fs.created.empty());
}

// A new file may be written when its directory takes new files, whatever the path's form (plain and read-only
// files, directories and relative paths: process/isfilewritable.vsl).
TEST_F(SystemHelperTest, QueryFileWritable) {
  auto writable = [](const std::wstring& path) {
    std::int32_t status = 12345;
    CSystemHelper().QueryFileWritable(path, status);
    return status;
  };
  for (const wchar_t* f : {L"afile", L"sub/f"}) m.Write(f, "x");
  const std::pair<std::wstring, int> rows[] = {{m.Path(L"sub\\new.txt"), 1}, {m.Path(L"sub") + L"/new.txt", 1},
      {L"Z:new.txt", 1}, {m.Path(L"nodir\\new.txt"), 0}, {m.Path(L"afile\\new.txt"), 0}};
  for (const auto& [path, expected] : rows) EXPECT_EQ(writable(path), expected) << text::ToUtf8(path);
  // "Z:name" lies in Z:'s own directory, not in the current one.
  for (const wchar_t* d : {L"gone", L"ddrive"}) m.MakeDir(d);
  MapDrive('d', L"ddrive");
  fs.ChangeDir(m.Path(L"gone"));
  std::filesystem::remove(m.HostPath(L"gone"));
  fs.ChangeDrive(L"D");
  EXPECT_EQ(writable(L"Z:new.txt"), 0);
  EXPECT_EQ(writable(L"new.txt"), 1);
  // An ordinary user cannot create a file in the root directory, and Z:'s own directory (/tmp) is no answer
  // for it; run as root, "nobody" asks in a child process.
  fs.ChangeDir(L"Z:\\tmp");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::_exit(writable(L"Z:\\vsl-new-file.txt") == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "1: answered writable; 2: cannot become nobody";
}
