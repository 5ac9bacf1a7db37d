// "=C:" variables, hidden files, drive roots, the ANSI code page; checks of conformance tests left out.
#include <gtest/gtest.h>

#include <functional>

#include "platform/TestMachine.h"
#include "platform/Text.h"
#include "platform/win32/FileSystem.h"

namespace {

using namespace platform;
using V = std::vector<std::wstring>;
constexpr auto npos = std::wstring::npos;

TEST(Win32FileSystem, EveryDriveKeepsItsOwnDirectory) {
  TestMachine m;
  FileSystem& fs = m.Fs();
  m.Write(L"sub/a.txt", "");
  fs.ChangeDrive(L"Z");
  const std::wstring onZ = fs.CurrentDir();
  fs.ChangeDir(L"C:SUB");
  EXPECT_EQ(fs.CurrentDir(), onZ);
  EXPECT_EQ(Names(fs.Find(L"C:a.*")), V{L"a.txt"});
  EXPECT_EQ(fs.GetAttributes(L"a.txt"), kInvalidAttributes);
  // A started program finds C:'s directory where the command interpreter keeps it.
  char value[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableA("=C:", value, sizeof value);
  EXPECT_EQ(text::Fold(win32::FromAnsi({value, n})), text::Fold(m.Path(L"sub")));
  fs.ChangeDrive(L"c:\\anything");
  EXPECT_EQ(text::Fold(fs.CurrentDir()), text::Fold(m.Path(L"sub")));  // spelt as given
  fs.ChangeDir(L"..");
  EXPECT_EQ(fs.CurrentDir(), m.Path());
  EXPECT_TRUE(fs.Find(L"C:").empty());
  fs.ChangeDrive(L"");
  EXPECT_EQ(fs.CurrentDir(), m.Path());
  EXPECT_EQ(fs.ReadTextFile(L"..\\work/./SUB\\\\a.txt"), L"");
  const std::function<void()> refused[] = {  // there is no drive Q: here
      [&] { fs.ChangeDrive(L"1"); }, [&] { fs.ChangeDrive(L"Q:"); }, [&] { fs.Find(L"Q:\\*"); },
      [&] { fs.ChangeDir(L""); }, [&] { fs.ChangeDir(m.Path(L"sub\\a.txt")); }};
  for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_THROW(refused[i](), VslError) << "case " << i;
  const std::wstring missing = Raised([&] { fs.ChangeDir(m.Path(L"none")); });  // the system's own words
  EXPECT_TRUE(missing.find(m.Path(L"none") + L": ") != npos && missing.find(L": error ") == npos) << missing;
  EXPECT_EQ(std::wstring(L".\r\n ").find(missing.back()), npos) << missing;  // no period, line end or blank left
  EXPECT_EQ(Raised([&] { fs.RemoveDir(L"C:\\"); }), L"Cannot remove the directory C:\\: it is the root of the drive");
  EXPECT_NE(Raised([&] { fs.Open(m.Path(), OpenMode::Read); }).find(L": it is a directory"), npos);
}

TEST(Win32FileSystem, FilesAreOpenedCopiedAndRemoved) {
  TestMachine m;
  FileSystem& fs = m.Fs();
  const auto P = [&](const wchar_t* rel) { return m.Path(rel); };
  fs.Open(P(L"f.txt"), OpenMode::Write)->Write("a longer text");
  fs.Open(P(L"F.TXT"), OpenMode::Write)->Write("ab");
  fs.Open(P(L"f.txt"), OpenMode::Append)->Write("c");
  EXPECT_EQ(fs.Open(P(L"f.txt"), OpenMode::Read)->ReadAll(), "abc");
  fs.Open(P(L"p.txt"), OpenMode::CreatePrivate)->Write("p");
  m.Write(L"src.txt", "content");
  m.MakeReadOnly(L"src.txt");
  fs.CopyWholeFile(P(L"SRC.txt"), P(L"copy.txt"));  // a copy keeps the attributes
  EXPECT_EQ(m.Read(L"copy.txt"), "content");
  EXPECT_EQ(fs.GetAttributes(P(L"copy.txt")) & kAttrReadOnly, kAttrReadOnly);
  EXPECT_NE(Raised([&] { fs.CopyWholeFile(P(L"src.txt"), P(L"x\\..\\SRC.TXT")); }).find(L"is the same file"), npos);
  EXPECT_TRUE(fs.SamePlace(P(L"a\\..\\src.txt"), P(L"SRC.txt")));
  EXPECT_FALSE(fs.SamePlace(P(L"src.txt"), P(L"copy.txt")));
  EXPECT_TRUE(fs.SameFile(P(L"src.txt"), P(L"x\\..\\Src.Txt")));
  EXPECT_FALSE(fs.SameFile(P(L"src.txt"), P(L"copy.txt")));
  // Directories one at a time; RemoveMatching takes only plain files.
  for (const wchar_t* n : {L"d/x1.tmp", L"d/x2.TMP", L"d/x3.tmp", L"d/y.tmp"}) m.Write(n, "");
  ::SetFileAttributesA(m.HostPath(L"d/x3.tmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
  fs.CreateDir(P(L"d\\x4.tmp"));
  fs.RemoveMatching(P(L"d\\x*.tmp"));
  EXPECT_EQ(Names(fs.Find(P(L"d\\*"))), (V{L".", L"..", L"x3.tmp", L"x4.tmp", L"y.tmp"}));
  const std::function<void()> refused[] = {
      [&] { fs.Open(P(L"p.txt"), OpenMode::CreatePrivate); }, [&] { fs.CopyWholeFile(P(L"no.txt"), P(L"x.txt")); },
      [&] { fs.CopyWholeFile(P(L"f.txt"), P(L"nodir\\x.txt")); }, [&] { fs.CreateDir(P(L"d")); },
      [&] { fs.CreateDir(P(L"x\\y")); }, [&] { fs.RemoveDir(P(L"d")); }, [&] { fs.RemoveFile(P(L"d\\x4.tmp")); },
      [&] { fs.RemoveFile(P(L"d\\x1.tmp")); }, [&] { fs.ReadTextFile(P(L"no.txt")); },
      [&] { fs.AppendTextLine(P(L"nodir\\x.txt"), L"x"); }};
  for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_THROW(refused[i](), VslError) << "case " << i;
  fs.RemoveDir(P(L"d\\x4.tmp"));
  EXPECT_FALSE(m.Exists(L"d/x4.tmp"));
  EXPECT_FALSE(fs.CanCreateIn(P(L"src.txt")));
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
