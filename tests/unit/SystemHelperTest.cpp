#include <gtest/gtest.h>
#include <sys/wait.h>

#include "ProcTestSupport.h"
#include "platform/posix/Processes.h"
#include "utility/CSystemHelper.h"

using proctest::ReadHostFile;
using proctest::ScratchDir;
using proctest::ScopedEnv;
using proctest::WriteHostFile;

namespace {

int ReturnsZero() { return 0; }
int ReturnsTwo() { return 2; }
int ReturnsMinusOne() { return -1; }

class SystemHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_.current = dir_.Drive();
    Install(&procs_);
  }
  void Install(platform::Processes* procs) {
    scoped_.reset();
    platform::Platform p;
    p.fileSystem = &fs_;
    p.processes = procs;
    scoped_ = std::make_unique<platform::ScopedPlatform>(p);
  }
  bool IsDir(const std::string& rel) { return std::filesystem::is_directory(dir_.Host(rel)); }
  std::int32_t Writable(const std::wstring& path) {
    std::int32_t status = 12345;
    helper_.QueryFileWritable(path, status);
    return status;
  }

  ScratchDir dir_;
  proctest::HostFs fs_;
  proctest::FakeProcesses procs_;
  std::unique_ptr<platform::ScopedPlatform> scoped_;
  CSystemHelper helper_;
};

// ---- DLL registration --------------------------------------------------------

TEST_F(SystemHelperTest, RegisterDllReportsTheServersResult) {
  procs_.libraries[L"zero.dll"] = {{"DllRegisterServer", ReturnsZero}};
  procs_.libraries[L"two.dll"] = {{"DllRegisterServer", ReturnsTwo}};
  procs_.libraries[L"neg.dll"] = {{"DllRegisterServer", ReturnsMinusOne}};
  std::int32_t status = 99;
  helper_.RegisterDll(L"zero.dll", status);
  EXPECT_EQ(status, 0);
  helper_.RegisterDll(L"two.dll", status);
  EXPECT_EQ(status, 2);
  helper_.RegisterDll(L"neg.dll", status);
  EXPECT_EQ(status, -1);
}

TEST_F(SystemHelperTest, RegisterDllFailsWithoutLibraryOrEntryPoint) {
  procs_.libraries[L"unreg-only.dll"] = {{"DllUnregisterServer", ReturnsZero}};
  std::int32_t status = 0;
  helper_.RegisterDll(L"missing.dll", status);
  EXPECT_NE(status, 0);
  status = 0;
  helper_.RegisterDll(L"unreg-only.dll", status);
  EXPECT_NE(status, 0);
}

TEST_F(SystemHelperTest, UnregisterDllTurnsSuccessIntoNonZero) {
  procs_.libraries[L"zero.dll"] = {{"DllUnregisterServer", ReturnsZero}};
  procs_.libraries[L"two.dll"] = {{"DllUnregisterServer", ReturnsTwo}};
  procs_.libraries[L"reg-only.dll"] = {{"DllRegisterServer", ReturnsZero}};
  std::int32_t status = 0;
  helper_.UnregisterDll(L"zero.dll", status);
  EXPECT_EQ(status, 1);
  helper_.UnregisterDll(L"two.dll", status);
  EXPECT_EQ(status, 0);
  status = 7;
  helper_.UnregisterDll(L"reg-only.dll", status);
  EXPECT_EQ(status, 0);
  status = 7;
  helper_.UnregisterDll(L"missing.dll", status);
  EXPECT_EQ(status, 0);
}

TEST_F(SystemHelperTest, AQuotedLibraryPathLoadsWhatIsInside) {
  procs_.libraries[L"C:\\a b\\s.dll"] = {{"DllRegisterServer", ReturnsZero}};
  std::int32_t status = 5;
  helper_.RegisterDll(L"\"C:\\a b\\s.dll\"", status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(procs_.loads.size(), 1u);
  EXPECT_EQ(procs_.loads[0], L"C:\\a b\\s.dll");
}

TEST_F(SystemHelperTest, RegistersARealSharedObject) {
  proctest::RealFs realFs(dir_);
  posix::PosixProcesses real(realFs.fs);
  Install(&real);
  const std::wstring dll = L"Z:" + text::FromUtf8(VSL_TEST_DLL);
  ScopedEnv log("VSL_TEST_SERVER_LOG", dir_.Host("calls.log"));
  std::int32_t status = 0;
  {
    ScopedEnv result("VSL_TEST_REGISTER_RESULT", "0");
    helper_.RegisterDll(dll, status);
    EXPECT_EQ(status, 0);
  }
  {
    ScopedEnv result("VSL_TEST_REGISTER_RESULT", "3");
    helper_.RegisterDll(L"\"" + dll + L"\"", status);
    EXPECT_EQ(status, 3);
  }
  {
    ScopedEnv result("VSL_TEST_UNREGISTER_RESULT", "0");
    helper_.UnregisterDll(dll, status);
    EXPECT_EQ(status, 1);
  }
  {
    ScopedEnv result("VSL_TEST_UNREGISTER_RESULT", "1");
    helper_.UnregisterDll(dll, status);
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(ReadHostFile(dir_.Host("calls.log")),
            "DllRegisterServer\nDllRegisterServer\nDllUnregisterServer\nDllUnregisterServer\n");
  WriteHostFile(dir_.Host("fake.dll"), "MZ not really\n");
  helper_.RegisterDll(dir_.Drive(L"fake.dll"), status);
  EXPECT_NE(status, 0);
}

TEST_F(SystemHelperTest, RegisterTypeLibIsNotSupported) {
  try {
    helper_.RegisterTypeLib(L"C:\\x\\a.tlb");
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description(),
              L"Cannot register the type library C:\\x\\a.tlb: type libraries are not supported on this platform");
  }
}

// ---- Program launch ----------------------------------------------------------

TEST_F(SystemHelperTest, RunProgramPassesProgramAndArgumentsUntouched) {
  // Quotes are taken off by the callers; what reaches the helper is started
  // as it is.
  helper_.RunProgram(L"\"C:\\Program Files\\srv.exe\"", L"/RegServer");
  helper_.RunProgram(L"prog", L"\"a b\" \"c\"");
  ASSERT_EQ(procs_.runs.size(), 2u);
  EXPECT_EQ(procs_.runs[0].program, L"\"C:\\Program Files\\srv.exe\"");
  EXPECT_EQ(procs_.runs[0].arguments, L"/RegServer");
  EXPECT_EQ(procs_.runs[1].program, L"prog");
  EXPECT_EQ(procs_.runs[1].arguments, L"\"a b\" \"c\"");
}

TEST_F(SystemHelperTest, RunProgramWaitsForTheProgram) {
  proctest::RealFs realFs(dir_);
  posix::PosixProcesses real(realFs.fs);
  Install(&real);
  helper_.RunProgram(L"/bin/sh", L"-c \"sleep 0.2; echo done > waited.txt\"");
  EXPECT_EQ(ReadHostFile(dir_.Host("waited.txt")), "done\n");
}

// ---- Directory paths ---------------------------------------------------------

TEST_F(SystemHelperTest, CreatePathCreatesEveryMissingDirectory) {
  helper_.CreatePath(dir_.Drive(L"a\\b\\c"));
  EXPECT_TRUE(IsDir("a/b/c"));
  EXPECT_EQ(fs_.created, (std::vector<std::wstring>{dir_.Drive(L"a"), dir_.Drive(L"a\\b"), dir_.Drive(L"a\\b\\c")}));
  // Existing directories are kept; only the missing tail is created.
  fs_.created.clear();
  helper_.CreatePath(dir_.Drive(L"a\\b\\d\\e\\"));
  EXPECT_TRUE(IsDir("a/b/d/e"));
  EXPECT_EQ(fs_.created, (std::vector<std::wstring>{dir_.Drive(L"a\\b\\d"), dir_.Drive(L"a\\b\\d\\e")}));
  fs_.created.clear();
  helper_.CreatePath(dir_.Drive(L"a\\b\\c"));
  EXPECT_TRUE(fs_.created.empty());
}

TEST_F(SystemHelperTest, CreatePathAcceptsEveryPathForm) {
  // Relative to the current directory.
  helper_.CreatePath(L"rel\\x");
  EXPECT_TRUE(IsDir("rel/x"));
  // Absolute on the current drive, with forward slashes and doubled separators.
  std::wstring host = text::FromUtf8(dir_.Host());
  helper_.CreatePath(host + L"/fwd//y/");
  EXPECT_TRUE(IsDir("fwd/y"));
  // ".." components go up.
  helper_.CreatePath(dir_.Drive(L"p\\..\\q"));
  EXPECT_TRUE(IsDir("p"));
  EXPECT_TRUE(IsDir("q"));
  // A root alone, or nothing, creates nothing.
  fs_.created.clear();
  helper_.CreatePath(L"Z:\\");
  helper_.CreatePath(L"");
  EXPECT_TRUE(fs_.created.empty());
}

TEST_F(SystemHelperTest, CreatePathRefusesAFileInTheWay) {
  ASSERT_EQ(::mkdir(dir_.Host("a").c_str(), 0755), 0);
  WriteHostFile(dir_.Host("a/f"), "x");
  const std::wstring path = dir_.Drive(L"a\\f\\g");
  try {
    helper_.CreatePath(path);
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description(), L"Cannot create the directory " + path + L": " + dir_.Drive(L"a\\f") + L" is a file");
  }
  EXPECT_TRUE(fs_.created.empty());
}

// ---- Text files --------------------------------------------------------------

TEST_F(SystemHelperTest, WriteTextFileAppendsLines) {
  const std::wstring file = dir_.Drive(L"out.txt");
  helper_.WriteTextFile(file, L"first");
  helper_.WriteTextFile(file, L"");
  helper_.WriteTextFile(file, L"caf\u00e9");
  EXPECT_EQ(ReadHostFile(dir_.Host("out.txt")), "first\n\ncaf\xc3\xa9\n");
}

TEST_F(SystemHelperTest, WriteTextFileKeepsWhatWasThere) {
  WriteHostFile(dir_.Host("log.txt"), "old line\n");
  helper_.WriteTextFile(L"log.txt", L"new line");
  EXPECT_EQ(ReadHostFile(dir_.Host("log.txt")), "old line\nnew line\n");
}

TEST_F(SystemHelperTest, WriteTextFileFailsWithoutItsDirectory) {
  EXPECT_THROW(helper_.WriteTextFile(dir_.Drive(L"nodir\\x.txt"), L"data"), VslError);
}

// ---- Writability -------------------------------------------------------------

TEST_F(SystemHelperTest, QueryFileWritableForExistingEntries) {
  WriteHostFile(dir_.Host("rw.txt"), "x", 0644);
  WriteHostFile(dir_.Host("ro.txt"), "x", 0444);
  ASSERT_EQ(::mkdir(dir_.Host("sub").c_str(), 0755), 0);
  EXPECT_NE(Writable(dir_.Drive(L"rw.txt")), 0);
  EXPECT_EQ(Writable(dir_.Drive(L"ro.txt")), 0);
  EXPECT_EQ(Writable(dir_.Drive(L"sub")), 0);
  EXPECT_NE(Writable(L"rw.txt"), 0);
}

TEST_F(SystemHelperTest, QueryFileWritableForMissingFiles) {
  ASSERT_EQ(::mkdir(dir_.Host("sub").c_str(), 0755), 0);
  WriteHostFile(dir_.Host("afile"), "x");
  EXPECT_NE(Writable(dir_.Drive(L"sub\\new.txt")), 0);
  EXPECT_NE(Writable(dir_.Drive(L"sub/new.txt")), 0);
  EXPECT_NE(Writable(dir_.Drive(L"new.txt")), 0);
  EXPECT_NE(Writable(L"new.txt"), 0) << "a bare name lies in the current directory";
  EXPECT_NE(Writable(L"sub\\new.txt"), 0);
  EXPECT_EQ(Writable(dir_.Drive(L"nodir\\new.txt")), 0);
  EXPECT_EQ(Writable(dir_.Drive(L"afile\\new.txt")), 0);
}

// Whether a file can really be created in the host directory, found out by
// creating (and removing) one.
bool CreatingAFileWorks(const std::string& hostDir) {
  std::string probe = hostDir + "/vsl-probe-" + std::to_string(::getpid());
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

TEST_F(SystemHelperTest, QueryFileWritableForAMissingFileAsksTheSystem) {
  // A directory without write permission is read-only to its owner, yet an
  // administrator can still create files in it; the answer must be what
  // happens on writing, whoever runs the test.
  ASSERT_EQ(::mkdir(dir_.Host("locked").c_str(), 0555), 0);
  const bool canCreate = CreatingAFileWorks(dir_.Host("locked"));
  EXPECT_EQ(Writable(dir_.Drive(L"locked\\new.txt")) != 0, canCreate);
  fs_.current = dir_.Drive(L"locked");
  EXPECT_EQ(Writable(L"new.txt") != 0, canCreate);
  // The root directory has its owner's write permission but belongs to the
  // administrator, so an ordinary user cannot create files in it. Run as
  // the administrator, the test asks as the "nobody" user in a child process.
  struct stat root{};
  ASSERT_EQ(::stat("/", &root), 0);
  ASSERT_EQ(root.st_uid, 0u);
  ASSERT_NE(root.st_mode & S_IWUSR, 0u);
  if (::geteuid() != 0) {
    ASSERT_FALSE(CreatingAFileWorks("/"));
    EXPECT_EQ(Writable(L"Z:\\vsl-new-file.txt"), 0);
  } else {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      try {
        ::_exit(Writable(L"Z:\\vsl-new-file.txt") == 0 ? 0 : 1);
      } catch (...) {
        ::_exit(3);
      }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered writable; 2: cannot become nobody; 3: failed";
  }
}

}  // namespace
