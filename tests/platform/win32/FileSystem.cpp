// "=C:" variables, drive-relative paths, hidden files, drive roots, the ANSI code page.
#include <gtest/gtest.h>

#include <functional>

#include "platform/TestMachine.h"
#include "platform/Text.h"
#include "platform/win32/FileSystem.h"

namespace {

using namespace platform;
using V = std::vector<std::wstring>;
constexpr auto npos = std::wstring::npos;

// The rest of what drives keep: FileSystemTest.EveryDriveKeepsItsOwnDirectory.
TEST(Win32FileSystem, DriveRelativePathsAndTheSystemsOwnWords) {
  TestMachine m;
  FileSystem& fs = m.Fs();
  m.Write(L"sub/a.txt", "");
  fs.ChangeDrive(L"Z");
  const std::wstring onZ = fs.CurrentDir();
  fs.ChangeDir(L"C:SUB");
  EXPECT_EQ(fs.CurrentDir(), onZ);
  EXPECT_EQ(Names(fs.Find(L"C:a.*")), V{L"a.txt"});
  // A started program finds C:'s directory where the command interpreter keeps it.
  char value[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableA("=C:", value, sizeof value);
  EXPECT_EQ(text::Fold(win32::FromAnsi({value, n})), text::Fold(m.Path(L"sub")));
  fs.ChangeDrive(L"C"), fs.ChangeDir(L"..");
  EXPECT_TRUE(fs.Find(L"C:").empty());
  const std::function<void()> refused[] = {  // there is no drive Q: here
      [&] { fs.ChangeDrive(L"1"); }, [&] { fs.ChangeDrive(L"Q:"); }, [&] { fs.ChangeDir(L""); }};
  for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_THROW(refused[i](), VslError) << "case " << i;
  const std::wstring missing = Raised([&] { fs.ChangeDir(m.Path(L"none")); });  // the system's own words
  EXPECT_TRUE(missing.find(m.Path(L"none") + L": ") != npos && missing.find(L": error ") == npos) << missing;
  EXPECT_EQ(std::wstring(L".\r\n ").find(missing.back()), npos) << missing;  // no period, line end or blank left
  EXPECT_EQ(Raised([&] { fs.RemoveDir(L"C:\\"); }), L"Cannot remove the directory C:\\: it is the root of the drive");
  EXPECT_NE(Raised([&] { fs.Open(m.Path(), OpenMode::Read); }).find(L": it is a directory"), npos);
}

TEST(Win32FileSystem, RemoveMatchingLeavesHiddenFiles) {
  TestMachine m;
  MakeTree(m, {{L"d/x1.tmp", ""}, {L"d/x2.tmp", ""}});
  ::SetFileAttributesA(m.HostPath(L"d/x2.tmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
  m.Fs().RemoveMatching(m.Path(L"d\\x*.tmp"));
  EXPECT_EQ(Names(m.Fs().Find(m.Path(L"d\\*"))), (V{L".", L"..", L"x2.tmp"}));
}

TEST(Win32FileSystem, TextIsInTheAnsiCodePageWhichSomeNamesDoNotFit) {
  TestMachine m;
  FileSystem& fs = m.Fs();
  const std::wstring cafe = L"caf\xE9", foreign = L"\x4E2D", pattern = m.Path() + L"\\" + foreign + L".txt";
  fs.AppendTextLine(m.Path(L"log.txt"), cafe);
  EXPECT_EQ(m.Read(L"log.txt"), win32::ToAnsiLossy(cafe) + "\r\n");
  m.Write(L"bom.txt", "\xEF\xBB\xBF" + win32::ToAnsiLossy(cafe));
  EXPECT_EQ(fs.ReadTextFile(m.Path(L"bom.txt")), cafe);
  // As '?' a character that the code page lacks would match "a.txt".
  std::string probe;
  ASSERT_FALSE(win32::ToAnsi(foreign, &probe)) << "the ANSI code page holds U+4E2D";
  m.Write(L"a.txt", "keep");
  EXPECT_TRUE(fs.Find(pattern).empty());
  EXPECT_EQ(fs.GetAttributes(pattern), kInvalidAttributes);
  fs.RemoveMatching(pattern);
  EXPECT_NE(Raised([&] { fs.RemoveFile(pattern); }).find(L"the name is not valid"), npos);
  EXPECT_EQ(m.Read(L"a.txt"), "keep");
}

}  // namespace
