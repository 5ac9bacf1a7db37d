// The file system as every backend provides it.
#include <gtest/gtest.h>

#include "platform/TestMachine.h"

using namespace platform;
using V = std::vector<std::wstring>;
using Bits = std::vector<std::uint32_t>;

class FileSystemTest : public ::testing::Test {
 protected:
  TestMachine m;
  FileSystem& fs = m.Fs();
  std::wstring P(const std::wstring& rel = L"") { return m.Path(rel); }
  // Each call must raise a VslError.
  void Refused(std::initializer_list<std::function<void()>> calls) {
    int i = 0;
    for (const auto& call : calls) EXPECT_THROW(call(), VslError) << "call " << i++;
  }
};

TEST_F(FileSystemTest, EveryDriveKeepsItsOwnDirectory) {
  m.Write(L"sub/f.txt", "x");
  const std::wstring own(1, P()[0]), other = own == L"Z" ? L"C" : L"Z";
  fs.ChangeDrive(other);
  const std::wstring onOther = fs.CurrentDir();
  fs.ChangeDir(P(L"sub"));  // the directory of the scratch directory's drive; the drive stays
  EXPECT_EQ((V{onOther.substr(0, 1), fs.CurrentDir()}), (V{other, onOther}));
  EXPECT_EQ(fs.ReadTextFile(own + L":f.txt"), L"x");
  EXPECT_EQ(fs.GetAttributes(L"f.txt"), kInvalidAttributes);
  fs.ChangeDrive(own + L":\\anything"), fs.ChangeDrive(L"");
  EXPECT_EQ(fs.CurrentDir(), P(L"sub"));
  EXPECT_EQ(fs.ReadTextFile(L"..\\\\sub/./F.TXT"), L"x");
  fs.ChangeDir(L"..");
  Refused({[&] { fs.Find(L"Q:\\*"); }, [&] { fs.ChangeDir(P(L"sub\\f.txt")); }});
  EXPECT_EQ(fs.CurrentDir(), P());
}

TEST_F(FileSystemTest, ReadOnlyFilesAreRefusedUntilTheAttributeGoes) {
  MakeTree(m, {{L"ro.txt", "keep"}, {L"src.txt", "new"}, {L"dir/", ""}});
  m.MakeReadOnly(L"ro.txt");
  const std::uint32_t bits = kAttrDirectory | kAttrReadOnly;
  EXPECT_EQ((Bits{fs.GetAttributes(P(L"src.txt")) & bits, fs.GetAttributes(P(L"RO.TXT")) & bits}), (Bits{0, kAttrReadOnly}));
  const std::wstring ro = P(L"ro.txt");
  EXPECT_EQ(Raised([&] { fs.RemoveFile(ro); }), L"Cannot delete " + ro + L": the file is read-only");
  EXPECT_EQ(Raised([&] { fs.Open(ro, OpenMode::Write); }), L"Cannot open " + ro + L" for writing: the file is read-only");
  EXPECT_EQ(Raised([&] { fs.Open(ro, OpenMode::Append); }), L"Cannot open " + ro + L" for appending: the file is read-only");
  EXPECT_EQ(Raised([&] { fs.CopyWholeFile(P(L"src.txt"), ro); }),
            L"Cannot copy " + P(L"src.txt") + L" to " + ro + L": the target is read-only");
  EXPECT_EQ(m.Read(L"ro.txt") + fs.Open(ro, OpenMode::Read)->ReadAll(), "keepkeep");
  fs.SetAttributes(ro, 0), fs.RemoveFile(ro);
  EXPECT_FALSE(m.Exists(L"ro.txt"));
}

TEST_F(FileSystemTest, FilesAreOpenedCopiedAndRemoved) {
  fs.Open(P(L"log.txt"), OpenMode::Append)->Write("one\n"), fs.Open(P(L"LOG.txt"), OpenMode::Write)->Write("ab");
  fs.Open(P(L"private.txt"), OpenMode::CreatePrivate)->Write("p");
  EXPECT_EQ(m.Read(L"log.txt") + m.Read(L"private.txt"), "abp");
  const std::wstring no = P(L"no.txt");
  EXPECT_EQ(Raised([&] { fs.Open(no, OpenMode::Read); }).rfind(L"Cannot open " + no + L" for reading: ", 0), 0u);
  m.Write(L"src.txt", "content");
  m.MakeReadOnly(L"src.txt");
  fs.CopyWholeFile(P(L"SRC.txt"), P(L"copy.txt"));  // a copy keeps the attributes
  EXPECT_EQ(m.Read(L"copy.txt") + (fs.GetAttributes(P(L"copy.txt")) & kAttrReadOnly ? "+ro" : ""), "content+ro");
  EXPECT_NE(Raised([&] { fs.CopyWholeFile(P(L"src.txt"), P(L"sub\\..\\SRC.TXT")); }).find(L": it is the same file"),
            std::wstring::npos);
  EXPECT_EQ((std::vector<bool>{fs.SamePlace(P(L"a\\..\\src.txt"), P(L"SRC.txt")),
                               fs.SameFile(P(L"src.txt"), P(L"x\\..\\Src.Txt")), fs.SameFile(P(L"src.txt"), P(L"log.txt")),
                               fs.SameFile(P(L"none"), P(L"none")), fs.CanCreateIn(P(L"src.txt"))}),
            (std::vector<bool>{true, true, false, false, false}));
  MakeTree(m, {{L"d/x1.tmp", ""}, {L"d/x2.TMP", ""}, {L"d/x3.tmp/", ""}});
  Refused({[&] { fs.Open(P(L"nodir\\x.txt"), OpenMode::Write); }, [&] { fs.Open(P(L"private.txt"), OpenMode::CreatePrivate); },
           [&] { fs.CopyWholeFile(P(L"src.txt"), P(L"nodir\\x.txt")); }, [&] { fs.RemoveFile(P(L"d\\x3.tmp")); },
           [&] { fs.RemoveFile(P(L"d\\none")); }, [&] { fs.AppendTextLine(P(L"nodir\\x.txt"), L"x"); },
           [&] { fs.ReadTextFile(P(L"none.txt")); }, [&] { fs.CreateDir(P(L"d")); }, [&] { fs.RemoveDir(P(L"d")); },
           [&] { fs.CreateDir(P(L"x\\y")); }, [&] { fs.CopyWholeFile(P(L"none.txt"), P(L"x.txt")); }});
  fs.RemoveMatching(P(L"d\\x*.tmp"));
  EXPECT_EQ(Names(fs.Find(P(L"d\\*"))), (V{L".", L"..", L"x3.tmp"}));
  fs.RemoveDir(P(L"d\\x3.tmp")), fs.RemoveDir(P(L"D"));
  EXPECT_FALSE(m.Exists(L"d"));
  fs.AppendTextLine(P(L"t.txt"), L"one"), fs.AppendTextLine(P(L"T.TXT"), L"");  // the platform's line end
  EXPECT_EQ(m.Read(L"t.txt"), "one" + m.LineEnd() + m.LineEnd());
}

TEST_F(FileSystemTest, APathHoldingANulNamesNoFile) {
  MakeTree(m, {{L"a.txt", "keep"}, {L"d/", ""}});
  const std::wstring nul(1, L'\0'), a = P(L"a.txt") + nul + L"x", d = P(L"d") + nul;
  EXPECT_TRUE(fs.Find(a).empty() && fs.Find(P(L"a*") + nul).empty());
  EXPECT_EQ(fs.GetAttributes(a), kInvalidAttributes);
  EXPECT_FALSE(fs.SameFile(a, P(L"a.txt")) || fs.CanCreateIn(d));
  Refused({[&] { fs.RemoveFile(a); }, [&] { fs.Open(a, OpenMode::Read); }, [&] { fs.Open(a, OpenMode::Write); },
           [&] { fs.Open(a, OpenMode::Append); }, [&] { fs.Open(P(L"new") + nul, OpenMode::CreatePrivate); },
           [&] { fs.ReadTextFile(a); }, [&] { fs.AppendTextLine(a, L"x"); }, [&] { fs.SetAttributes(a, kAttrReadOnly); },
           [&] { fs.CopyWholeFile(P(L"a.txt"), a); }, [&] { fs.CopyWholeFile(a, P(L"b.txt")); },
           [&] { fs.CreateDir(P(L"new") + nul + L"x"); }, [&] { fs.RemoveDir(d + L"x"); }, [&] { fs.ChangeDir(d + L"x"); }});
  fs.RemoveMatching(P(L"a.txt") + nul + L"*");  // finds nothing to delete
  EXPECT_EQ(m.Read(L"a.txt") + (fs.GetAttributes(P(L"a.txt")) & kAttrReadOnly ? "+ro" : ""), "keep");
  EXPECT_EQ(Names(fs.Find(P(L"*"))), (V{L".", L"..", L"a.txt", L"d"}));
  EXPECT_EQ(fs.CurrentDir(), P());
}

// What the journal of an atomic run relies on: an entry moved aside and back stays the same file, a file
// gets its size, permissions and time back, a saved tree goes whatever it holds, a journal has one holder.
TEST_F(FileSystemTest, WhatTheJournalOfAnAtomicRunNeeds) {
  MakeTree(m, {{L"tree/sub/f", "f"}, {L"a", "abc"}, {L"b", "abc"}, {L"c", "abd"}, {L"area/", ""}});
  m.MakeReadOnly(L"tree/sub/f");
  const EntryStamp a = fs.Stamp(P(L"a")), tree = fs.Stamp(P(L"TREE"));
  EXPECT_TRUE(a.exists && !a.directory && a.size == 3 && tree.directory && !fs.Stamp(P(L"none")).exists);
  EXPECT_EQ(fs.FullPath(P(L"TREE")), P(L"tree"));
  EXPECT_TRUE(fs.MoveEntry(P(L"tree"), P(L"area\\1")));
  EXPECT_TRUE(!m.Exists(L"tree") && fs.Stamp(P(L"area\\1")).identity == tree.identity);
  Refused({[&] { fs.MoveEntry(P(L"a"), P(L"b")); }, [&] { fs.MoveEntry(P(L"none"), P(L"x")); }});
  EXPECT_EQ((std::vector<bool>{fs.SameContent(P(L"a"), P(L"B")), fs.SameContent(P(L"a"), P(L"c")),
                               fs.SameContent(P(L"a"), P(L"a"))}),
            (std::vector<bool>{true, false, false}));
  fs.AppendTextLine(P(L"a"), L"more");
  fs.RestoreStamp(P(L"a"), a);
  const EntryStamp back = fs.Stamp(P(L"a"));
  EXPECT_EQ(m.Read(L"a"), "abc");
  EXPECT_TRUE(back.identity == a.identity && back.modified == a.modified && back.permissions == a.permissions);
  fs.RemoveTree(P(L"area")), fs.RemoveTree(P(L"area"));  // nothing there is no failure
  EXPECT_FALSE(m.Exists(L"area"));
  auto held = fs.OpenLocked(P(L"j"), true);
  held->Append("x\n", true);
  EXPECT_EQ(fs.OpenLocked(P(L"j"), false), nullptr);
  held.reset();
  auto again = fs.OpenLocked(P(L"j"), false);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->ReadAll(), "x\n");
}

// For a tree operation FindOrFail lists what Find lists, but a directory that it cannot list fails, naming it,
// where Find finds nothing; IsRegularFile tells files of data from the rest; Read reads a file in pieces.
TEST_F(FileSystemTest, TreeOperationsTellUnlistedDirectoriesAndFilesOfData) {
  MakeTree(m, {{L"d/a.txt", "abc"}, {L"d/sub/", ""}});
  EXPECT_EQ(Names(fs.FindOrFail(P(L"D\\*"))), (V{L".", L"..", L"a.txt", L"sub"}));
  EXPECT_TRUE(fs.Find(P(L"none\\*")).empty());
  const std::wstring why = Raised([&] { fs.FindOrFail(P(L"none\\*")); });
  EXPECT_NE(why.find(P(L"none")), std::wstring::npos) << text::ToUtf8(why);
  EXPECT_EQ((std::vector<bool>{fs.IsRegularFile(P(L"d\\A.TXT")), fs.IsRegularFile(P(L"d\\sub")), fs.IsRegularFile(P(L"none"))}),
            (std::vector<bool>{true, false, false}));
  auto file = fs.Open(P(L"d\\a.txt"), OpenMode::Read);
  char piece[2];
  std::string read;
  for (std::size_t n; (n = file->Read(piece, sizeof piece)) > 0;) read.append(piece, n);
  EXPECT_EQ(read, "abc");
}
