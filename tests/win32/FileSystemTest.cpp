// The Windows file system backend against kernel32 itself: per-drive
// current directories, searches, names that the ANSI code page cannot hold,
// the read-only attribute and the file operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Text.h"
#include "platform/win32/FileSystem.h"

namespace {

using platform::FindEntry;
using wintest::Exists;
using wintest::ReadFileBytes;
using wintest::WriteFileBytes;

std::vector<std::wstring> Names(const std::vector<FindEntry>& entries) {
  std::vector<std::wstring> names;
  for (const auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring Folded(const std::wstring& s) { return text::Fold(s); }

class Win32FileSystemTest : public ::testing::Test {
 protected:
  wintest::DirectoryGuard guard_;
  wintest::ScratchDir dir_;
  win32::Win32FileSystem fs_;
};

TEST_F(Win32FileSystemTest, EveryDriveKeepsItsOwnDirectory) {
  // The scratch directory is on C:; the tests start on Z:, the drive of
  // the host's working directory.
  ASSERT_EQ(dir_.Path().substr(0, 2), "C:");
  ::CreateDirectoryA(dir_.Path("sub").c_str(), nullptr);
  WriteFileBytes(dir_.Path("sub\\f.txt"), "x");
  fs_.ChangeDrive(L"Z");
  const std::wstring onZ = fs_.CurrentDir();
  ASSERT_EQ(onZ.substr(0, 2), L"Z:");

  // Changing the directory of C: leaves Z: current.
  fs_.ChangeDir(dir_.WPath());
  EXPECT_EQ(fs_.CurrentDir(), onZ);
  // "C:sub" is relative to C:'s own directory, also while Z: is current.
  fs_.ChangeDir(L"C:sub");
  EXPECT_NE(fs_.GetAttributes(L"C:f.txt"), platform::kInvalidAttributes);
  EXPECT_EQ(fs_.GetAttributes(L"f.txt"), platform::kInvalidAttributes);
  fs_.ChangeDrive(L"c:\\anything");
  EXPECT_EQ(Folded(fs_.CurrentDir()), Folded(dir_.WPath("sub")));
  EXPECT_NE(fs_.GetAttributes(L"f.txt"), platform::kInvalidAttributes);
  // ".." is the parent; back on Z: its directory is where it was.
  fs_.ChangeDir(L"..");
  EXPECT_EQ(Folded(fs_.CurrentDir()), Folded(dir_.WPath()));
  fs_.ChangeDrive(L"Z:");
  EXPECT_EQ(fs_.CurrentDir(), onZ);
  // A started program finds C:'s directory where the command interpreter
  // keeps it.
  char value[MAX_PATH];
  DWORD n = ::GetEnvironmentVariableA("=C:", value, sizeof value);
  EXPECT_EQ(Folded(win32::FromAnsi(std::string(value, n))), Folded(dir_.WPath()));
}

TEST_F(Win32FileSystemTest, DrivesAndDirectoriesThatDoNotExistFail) {
  const DWORD drives = ::GetLogicalDrives();
  wchar_t missing = 0;
  for (int i = 25; i >= 0 && missing == 0; --i)
    if ((drives & (1u << i)) == 0) missing = static_cast<wchar_t>(L'A' + i);
  ASSERT_NE(missing, 0);
  const std::wstring before = fs_.CurrentDir();
  EXPECT_THROW(fs_.ChangeDrive(std::wstring(1, missing)), VslError);
  EXPECT_THROW(fs_.ChangeDrive(L"1"), VslError);
  EXPECT_THROW(fs_.Find(std::wstring(1, missing) + L":\\*"), VslError);
  fs_.ChangeDrive(L"");
  EXPECT_EQ(fs_.CurrentDir(), before);
  EXPECT_THROW(fs_.ChangeDir(L""), VslError);
  try {
    fs_.ChangeDir(dir_.WPath("nowhere"));
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_NE(e.Description().find(L"Cannot change the directory to "), std::wstring::npos);
    EXPECT_NE(Folded(e.Description()).find(L"NOWHERE: "), std::wstring::npos) << e.what();
  }
  WriteFileBytes(dir_.Path("plain"), "x");
  EXPECT_THROW(fs_.ChangeDir(dir_.WPath("plain")), VslError);
  EXPECT_EQ(fs_.CurrentDir(), before);
}

TEST_F(Win32FileSystemTest, SearchesFollowTheWindowsRules) {
  WriteFileBytes(dir_.Path("a.txt"), "");
  WriteFileBytes(dir_.Path("b.TXT"), "");
  WriteFileBytes(dir_.Path("README"), "");
  ::CreateDirectoryA(dir_.Path("sub").c_str(), nullptr);
  // "*.*" also matches a name without a dot; "." and ".." are listed.
  EXPECT_EQ(Names(fs_.Find(dir_.WPath("*.*"))),
            (std::vector<std::wstring>{L".", L"..", L"README", L"a.txt", L"b.TXT", L"sub"}));
  EXPECT_EQ(Names(fs_.Find(dir_.WPath() + L"\\")), Names(fs_.Find(dir_.WPath("*"))));
  EXPECT_EQ(Names(fs_.Find(dir_.WPath("*.txt"))), (std::vector<std::wstring>{L"a.txt", L"b.TXT"}));
  // An exact name comes back spelt as on disk.
  EXPECT_EQ(Names(fs_.Find(dir_.WPath("readme"))), (std::vector<std::wstring>{L"README"}));
  for (const auto& e : fs_.Find(dir_.WPath("s?b")))
    EXPECT_NE(e.attributes & platform::kAttrDirectory, 0u) << text::ToUtf8(e.name);
  EXPECT_TRUE(fs_.Find(dir_.WPath("missing\\*")).empty());
  EXPECT_TRUE(fs_.Find(L"").empty());
  EXPECT_TRUE(fs_.Find(L"C:").empty());
  // A relative pattern is searched in the current directory of its drive.
  fs_.ChangeDir(dir_.WPath());
  EXPECT_EQ(Names(fs_.Find(L"C:a.*")), (std::vector<std::wstring>{L"a.txt"}));
}

TEST_F(Win32FileSystemTest, PathsThatNameNothingReachNoFile) {
  WriteFileBytes(dir_.Path("a.txt"), "keep");
  // A NUL would cut the path at "a.txt".
  const std::wstring withNul = dir_.WPath("a.txt") + std::wstring(1, L'\0') + L"x";
  EXPECT_TRUE(fs_.Find(withNul).empty());
  EXPECT_EQ(fs_.GetAttributes(withNul), platform::kInvalidAttributes);
  EXPECT_THROW(fs_.RemoveFile(withNul), VslError);
  EXPECT_THROW(fs_.Open(withNul, platform::OpenMode::Write), VslError);
  EXPECT_THROW(fs_.CopyWholeFile(dir_.WPath("a.txt"), withNul), VslError);
  // A character the ANSI code page lacks would become '?', a wildcard that
  // matches "a.txt".
  std::string probe;
  const std::wstring foreign = L"\x4E2D";
  if (!win32::ToAnsi(foreign, &probe)) {
    const std::wstring pattern = dir_.WPath() + L"\\" + foreign + L".txt";
    EXPECT_TRUE(fs_.Find(pattern).empty());
    EXPECT_EQ(fs_.GetAttributes(pattern), platform::kInvalidAttributes);
    fs_.RemoveMatching(pattern);
    try {
      fs_.RemoveFile(pattern);
      FAIL() << "no error raised";
    } catch (const VslError& e) {
      EXPECT_NE(e.Description().find(L"the name is not valid"), std::wstring::npos) << e.what();
    }
  }
  EXPECT_EQ(ReadFileBytes(dir_.Path("a.txt")), "keep");
}

TEST_F(Win32FileSystemTest, ReadOnlyFilesAreRefusedUntilTheAttributeIsCleared) {
  WriteFileBytes(dir_.Path("ro.txt"), "old");
  WriteFileBytes(dir_.Path("src.txt"), "new");
  fs_.SetAttributes(dir_.WPath("ro.txt"), platform::kAttrReadOnly);
  EXPECT_NE(fs_.GetAttributes(dir_.WPath("ro.txt")) & platform::kAttrReadOnly, 0u);
  try {
    fs_.RemoveFile(dir_.WPath("ro.txt"));
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_NE(e.Description().find(L": the file is read-only"), std::wstring::npos) << e.what();
  }
  EXPECT_THROW(fs_.Open(dir_.WPath("ro.txt"), platform::OpenMode::Write), VslError);
  EXPECT_THROW(fs_.Open(dir_.WPath("ro.txt"), platform::OpenMode::Append), VslError);
  EXPECT_THROW(fs_.CopyWholeFile(dir_.WPath("src.txt"), dir_.WPath("ro.txt")), VslError);
  EXPECT_THROW(fs_.RemoveMatching(dir_.WPath("*.txt")), VslError);
  EXPECT_EQ(ReadFileBytes(dir_.Path("ro.txt")), "old");
  // Reading is allowed; clearing the attributes lets the file go.
  EXPECT_EQ(fs_.ReadTextFile(dir_.WPath("ro.txt")), L"old");
  fs_.SetAttributes(dir_.WPath("ro.txt"), 0);
  EXPECT_EQ(fs_.GetAttributes(dir_.WPath("ro.txt")) & platform::kAttrReadOnly, 0u);
  fs_.RemoveFile(dir_.WPath("ro.txt"));
  EXPECT_FALSE(Exists(dir_.Path("ro.txt")));
  EXPECT_THROW(fs_.SetAttributes(dir_.WPath("ro.txt"), 0), VslError);
}

TEST_F(Win32FileSystemTest, RemoveMatchingDeletesOnlyPlainFiles) {
  WriteFileBytes(dir_.Path("x1.tmp"), "");
  WriteFileBytes(dir_.Path("x2.TMP"), "");
  WriteFileBytes(dir_.Path("x3.tmp"), "");
  ::SetFileAttributesA(dir_.Path("x3.tmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ::CreateDirectoryA(dir_.Path("x4.tmp").c_str(), nullptr);
  WriteFileBytes(dir_.Path("y.tmp"), "");
  fs_.RemoveMatching(dir_.WPath("x*.tmp"));
  EXPECT_FALSE(Exists(dir_.Path("x1.tmp")));
  EXPECT_FALSE(Exists(dir_.Path("x2.TMP")));
  EXPECT_TRUE(Exists(dir_.Path("x3.tmp")));
  EXPECT_TRUE(Exists(dir_.Path("x4.tmp")));
  EXPECT_TRUE(Exists(dir_.Path("y.tmp")));
  EXPECT_THROW(fs_.RemoveFile(dir_.WPath("x4.tmp")), VslError);
  EXPECT_THROW(fs_.RemoveFile(dir_.WPath("x1.tmp")), VslError);
}

TEST_F(Win32FileSystemTest, CopiesKeepAttributesAndNeverCopyAFileOntoItself) {
  WriteFileBytes(dir_.Path("src.txt"), "content");
  ::SetFileAttributesA(dir_.Path("src.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  fs_.CopyWholeFile(dir_.WPath("src.txt"), dir_.WPath("copy.txt"));
  EXPECT_EQ(ReadFileBytes(dir_.Path("copy.txt")), "content");
  EXPECT_NE(::GetFileAttributesA(dir_.Path("copy.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  ::SetFileAttributesA(dir_.Path("src.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  try {
    fs_.CopyWholeFile(dir_.WPath("src.txt"), dir_.WPath("sub\\..\\SRC.TXT"));
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_NE(e.Description().find(L": it is the same file"), std::wstring::npos) << e.what();
  }
  EXPECT_EQ(ReadFileBytes(dir_.Path("src.txt")), "content");
  EXPECT_THROW(fs_.CopyWholeFile(dir_.WPath("missing.txt"), dir_.WPath("x.txt")), VslError);
  EXPECT_THROW(fs_.CopyWholeFile(dir_.WPath("src.txt"), dir_.WPath("nodir\\x.txt")), VslError);
  EXPECT_TRUE(fs_.SamePlace(dir_.WPath("a\\..\\src.txt"), dir_.WPath("SRC.txt")));
  EXPECT_FALSE(fs_.SamePlace(dir_.WPath("src.txt"), dir_.WPath("copy.txt")));
}

TEST_F(Win32FileSystemTest, FilesOpenForWritingAppendingAndReadingText) {
  {
    auto f = fs_.Open(dir_.WPath("f.txt"), platform::OpenMode::Write);
    f->Write("a longer first content");
  }
  fs_.Open(dir_.WPath("f.txt"), platform::OpenMode::Write)->Write("short");
  EXPECT_EQ(ReadFileBytes(dir_.Path("f.txt")), "short");
  fs_.Open(dir_.WPath("f.txt"), platform::OpenMode::Append)->Write("+more");
  EXPECT_EQ(fs_.Open(dir_.WPath("f.txt"), platform::OpenMode::Read)->ReadAll(), "short+more");
  // Text lines end in CR LF and are written in the ANSI code page.
  fs_.AppendTextLine(dir_.WPath("log.txt"), L"one");
  fs_.AppendTextLine(dir_.WPath("log.txt"), L"caf\xE9");
  EXPECT_EQ(ReadFileBytes(dir_.Path("log.txt")), "one\r\n" + win32::ToAnsiLossy(L"caf\xE9") + "\r\n");
  // A UTF-8 byte order mark is skipped; the rest is read in the code page.
  WriteFileBytes(dir_.Path("bom.txt"), "\xEF\xBB\xBFline " + win32::ToAnsiLossy(L"caf\xE9"));
  EXPECT_EQ(fs_.ReadTextFile(dir_.WPath("bom.txt")), L"line caf\xE9");
  EXPECT_THROW(fs_.Open(dir_.WPath("missing.txt"), platform::OpenMode::Read), VslError);
  EXPECT_THROW(fs_.Open(dir_.WPath(), platform::OpenMode::Read), VslError);
}

TEST_F(Win32FileSystemTest, DirectoriesAreCreatedAndRemovedOneAtATime) {
  fs_.CreateDir(dir_.WPath("d"));
  EXPECT_THROW(fs_.CreateDir(dir_.WPath("d")), VslError);
  EXPECT_THROW(fs_.CreateDir(dir_.WPath("x\\y")), VslError);
  WriteFileBytes(dir_.Path("d\\f"), "");
  EXPECT_THROW(fs_.RemoveDir(dir_.WPath("d")), VslError);
  ::DeleteFileA(dir_.Path("d\\f").c_str());
  fs_.RemoveDir(dir_.WPath("d"));
  EXPECT_FALSE(Exists(dir_.Path("d")));
  try {
    fs_.RemoveDir(L"C:\\");
    FAIL() << "no error raised";
  } catch (const VslError& e) {
    EXPECT_EQ(e.Description(), L"Cannot remove the directory C:\\: it is the root of the drive");
  }
  // Whether files can be made in a directory is the system's answer.
  EXPECT_TRUE(fs_.CanCreateIn(dir_.WPath()));
  EXPECT_FALSE(fs_.CanCreateIn(dir_.WPath("missing")));
  WriteFileBytes(dir_.Path("file"), "");
  EXPECT_FALSE(fs_.CanCreateIn(dir_.WPath("file")));
}

}  // namespace
