// The file system and temporary files as every backend provides them.
#include <gtest/gtest.h>

#include <set>

#include "platform/TestMachine.h"
#include "platform/Text.h"

namespace {

using namespace platform;
using V = std::vector<std::wstring>;

class FileSystemTest : public ::testing::Test {
 protected:
  TestMachine m;
  FileSystem& fs = m.Fs();
  std::wstring P(const std::wstring& rel = L"") { return m.Path(rel); }
};

TEST_F(FileSystemTest, EveryDriveKeepsItsOwnDirectory) {
  m.Write(L"sub/f.txt", "x");
  const std::wstring own(1, P()[0]), other = own == L"Z" ? L"C" : L"Z";
  fs.ChangeDrive(other);
  const std::wstring onOther = fs.CurrentDir();
  EXPECT_EQ(onOther.substr(0, 1), other);
  fs.ChangeDir(P(L"SUB"));  // the directory of the scratch directory's drive; the drive stays
  EXPECT_EQ(fs.CurrentDir(), onOther);
  EXPECT_EQ(fs.ReadTextFile(own + L":f.txt"), L"x");
  EXPECT_EQ(fs.GetAttributes(L"f.txt"), kInvalidAttributes);
  fs.ChangeDrive(own + L":\\anything");
  fs.ChangeDrive(L"");
  EXPECT_EQ(fs.CurrentDir(), P(L"sub"));
  for (const wchar_t* rel : {L"f.txt", L".\\F.TXT", L"..\\sub/./f.txt", L"..\\\\sub\\f.txt"})
    EXPECT_EQ(fs.ReadTextFile(rel), L"x") << text::ToUtf8(rel);
  fs.ChangeDir(L"..");
  EXPECT_EQ(fs.CurrentDir(), P());
  EXPECT_THROW(fs.ChangeDrive(L"Q:"), VslError);  // no such drive on a test machine
  EXPECT_THROW(fs.Find(L"Q:\\*"), VslError);
  EXPECT_EQ(Raised([&] { fs.ChangeDir(P(L"none")); }).rfind(L"Cannot change the directory to ", 0), 0u);
  EXPECT_THROW(fs.ChangeDir(P(L"sub\\f.txt")), VslError);
  EXPECT_EQ(fs.CurrentDir(), P());
}

TEST_F(FileSystemTest, ReadOnlyFilesAreRefusedUntilTheAttributeGoes) {
  m.Write(L"ro.txt", "keep");
  m.Write(L"src.txt", "new");
  m.MakeDir(L"dir");
  m.MakeReadOnly(L"ro.txt");
  const std::uint32_t bits = kAttrDirectory | kAttrReadOnly;
  EXPECT_EQ(fs.GetAttributes(P(L"src.txt")) & bits, 0u);
  EXPECT_EQ(fs.GetAttributes(P(L"RO.TXT")) & bits, kAttrReadOnly);
  EXPECT_EQ(fs.GetAttributes(P(L"dir")) & bits, kAttrDirectory);
  EXPECT_EQ(fs.GetAttributes(P(L"none")), kInvalidAttributes);
  const std::wstring ro = P(L"ro.txt");
  EXPECT_EQ(Raised([&] { fs.RemoveFile(ro); }), L"Cannot delete " + ro + L": the file is read-only");
  EXPECT_EQ(Raised([&] { fs.Open(ro, OpenMode::Write); }), L"Cannot open " + ro + L" for writing: the file is read-only");
  EXPECT_EQ(Raised([&] { fs.Open(ro, OpenMode::Append); }),
            L"Cannot open " + ro + L" for appending: the file is read-only");
  EXPECT_EQ(Raised([&] { fs.CopyWholeFile(P(L"src.txt"), ro); }),
            L"Cannot copy " + P(L"src.txt") + L" to " + ro + L": the target is read-only");
  EXPECT_THROW(fs.RemoveMatching(P(L"r*.txt")), VslError);
  EXPECT_EQ(m.Read(L"ro.txt"), "keep");
  EXPECT_EQ(fs.Open(ro, OpenMode::Read)->ReadAll(), "keep");
  fs.SetAttributes(ro, 0);
  fs.RemoveFile(ro);
  EXPECT_FALSE(m.Exists(L"ro.txt"));
  fs.SetAttributes(P(L"src.txt"), kAttrReadOnly);
  EXPECT_EQ(fs.GetAttributes(P(L"src.txt")) & kAttrReadOnly, kAttrReadOnly);
  EXPECT_THROW(fs.SetAttributes(ro, 0), VslError);
}

TEST_F(FileSystemTest, FindMatchesWithoutCase) {
  for (const wchar_t* n : {L"list/b.txt", L"list/A.txt", L"list/C.dat", L"list/README"}) m.Write(n, "");
  m.MakeDir(L"list/sub");
  const V all{L".", L"..", L"A.txt", L"C.dat", L"README", L"b.txt", L"sub"};
  const std::pair<const wchar_t*, V> cases[] = {
      {L"list\\*", all}, {L"list\\", all}, {L"list/*.*", all}, {L"list\\*.TXT", {L"A.txt", L"b.txt"}},
      {L"LIST\\?.txt", {L"A.txt", L"b.txt"}}, {L"list\\r*", {L"README"}}, {L"list\\readme", {L"README"}},
      {L"list\\x*", {}}, {L"nodir\\*", {}}, {L"list\\nofile", {}}};
  for (const auto& [pattern, expected] : cases) EXPECT_EQ(Names(fs.Find(P(pattern))), expected) << text::ToUtf8(pattern);
  EXPECT_TRUE(fs.Find(L"").empty());
  for (const auto& e : fs.Find(P(L"list\\*")))
    EXPECT_EQ(e.attributes & kAttrDirectory, e.name[0] == L'.' || e.name == L"sub" ? kAttrDirectory : 0u);
  fs.ChangeDir(P(L"list"));
  EXPECT_EQ(Names(fs.Find(L"*.dat")), V{L"C.dat"});
}

TEST_F(FileSystemTest, FilesAreOpenedCopiedAndRemoved) {
  fs.Open(P(L"log.txt"), OpenMode::Append)->Write("one\n");
  fs.Open(P(L"LOG.txt"), OpenMode::Append)->Write("two\n");
  EXPECT_EQ(fs.Open(P(L"log.txt"), OpenMode::Read)->ReadAll(), "one\ntwo\n");
  fs.Open(P(L"log.txt"), OpenMode::Write)->Write("ab");
  EXPECT_EQ(m.Read(L"log.txt"), "ab");
  EXPECT_EQ(Raised([&] { fs.Open(P(L"no.txt"), OpenMode::Read); }).rfind(L"Cannot open " + P(L"no.txt") + L" for reading: ", 0), 0u);
  EXPECT_THROW(fs.Open(P(L"nodir\\x.txt"), OpenMode::Write), VslError);
  fs.Open(P(L"private.txt"), OpenMode::CreatePrivate)->Write("p");
  EXPECT_EQ(m.Read(L"private.txt"), "p");
  EXPECT_THROW(fs.Open(P(L"private.txt"), OpenMode::CreatePrivate), VslError);
  // Copies replace the target and keep the attributes; never onto the file itself.
  m.Write(L"src.txt", "content");
  m.MakeReadOnly(L"src.txt");
  fs.CopyWholeFile(P(L"SRC.txt"), P(L"log.txt"));
  EXPECT_EQ(m.Read(L"log.txt"), "content");
  EXPECT_EQ(fs.GetAttributes(P(L"log.txt")) & kAttrReadOnly, kAttrReadOnly);
  fs.SetAttributes(P(L"src.txt"), 0);
  EXPECT_NE(Raised([&] { fs.CopyWholeFile(P(L"src.txt"), P(L"sub\\..\\SRC.TXT")); }).find(L": it is the same file"), std::wstring::npos);
  EXPECT_THROW(fs.CopyWholeFile(P(L"missing.txt"), P(L"x.txt")), VslError);
  EXPECT_THROW(fs.CopyWholeFile(P(L"src.txt"), P(L"nodir\\x.txt")), VslError);
  EXPECT_TRUE(fs.SamePlace(P(L"a\\..\\src.txt"), P(L"SRC.txt")));
  EXPECT_FALSE(fs.SamePlace(P(L"src.txt"), P(L"log.txt")));
  EXPECT_TRUE(fs.SameFile(P(L"src.txt"), P(L"x\\..\\Src.Txt")));
  EXPECT_FALSE(fs.SameFile(P(L"src.txt"), P(L"log.txt")));
  EXPECT_FALSE(fs.SameFile(P(L"none"), P(L"none")));
  // Directories one at a time; RemoveMatching takes only plain files.
  fs.CreateDir(P(L"d"));
  EXPECT_THROW(fs.CreateDir(P(L"d")), VslError);
  EXPECT_THROW(fs.CreateDir(P(L"x\\y")), VslError);
  for (const wchar_t* n : {L"d/x1.tmp", L"d/x2.TMP", L"d/y.tmp"}) m.Write(n, "");
  m.MakeDir(L"d/x3.tmp");
  EXPECT_THROW(fs.RemoveDir(P(L"d")), VslError);
  EXPECT_THROW(fs.RemoveFile(P(L"d\\x3.tmp")), VslError);
  EXPECT_THROW(fs.RemoveFile(P(L"d\\none")), VslError);
  fs.RemoveMatching(P(L"d\\x*.tmp"));
  fs.RemoveMatching(P(L"d\\nothing*"));
  EXPECT_EQ(Names(fs.Find(P(L"d\\*"))), (V{L".", L"..", L"x3.tmp", L"y.tmp"}));
  fs.RemoveDir(P(L"d\\x3.tmp"));
  fs.RemoveFile(P(L"D\\Y.TMP"));
  fs.RemoveDir(P(L"d"));
  EXPECT_FALSE(m.Exists(L"d"));
  EXPECT_TRUE(fs.CanCreateIn(P()));
  EXPECT_FALSE(fs.CanCreateIn(P(L"missing")));
  EXPECT_FALSE(fs.CanCreateIn(P(L"src.txt")));
  // Text files: the platform's line end; a byte order mark is skipped.
  fs.AppendTextLine(P(L"t.txt"), L"one");
  fs.AppendTextLine(P(L"T.TXT"), L"");
  EXPECT_EQ(m.Read(L"t.txt"), "one" + m.LineEnd() + m.LineEnd());
  EXPECT_THROW(fs.AppendTextLine(P(L"nodir\\x.txt"), L"x"), VslError);
  m.Write(L"bom.txt", "\xEF\xBB\xBFline\nnext");
  EXPECT_EQ(fs.ReadTextFile(P(L"bom.txt")), L"line\nnext");
  EXPECT_THROW(fs.ReadTextFile(P(L"none.txt")), VslError);
}

TEST_F(FileSystemTest, APathHoldingANulNamesNoFile) {
  m.Write(L"a.txt", "keep");
  m.MakeDir(L"d");
  const std::wstring nul(1, L'\0'), a = P(L"a.txt") + nul + L"x", d = P(L"d") + nul;
  EXPECT_TRUE(fs.Find(a).empty());
  EXPECT_TRUE(fs.Find(P(L"a*") + nul).empty());
  EXPECT_EQ(fs.GetAttributes(a), kInvalidAttributes);
  EXPECT_FALSE(fs.SameFile(a, P(L"a.txt")));
  EXPECT_FALSE(fs.CanCreateIn(d));
  const std::function<void()> refused[] = {
      [&] { fs.RemoveFile(a); },           [&] { fs.Open(a, OpenMode::Read); },
      [&] { fs.Open(a, OpenMode::Write); }, [&] { fs.Open(a, OpenMode::Append); },
      [&] { fs.Open(P(L"new") + nul, OpenMode::CreatePrivate); },
      [&] { fs.ReadTextFile(a); },         [&] { fs.AppendTextLine(a, L"x"); },
      [&] { fs.SetAttributes(a, kAttrReadOnly); },
      [&] { fs.CopyWholeFile(P(L"a.txt"), a); }, [&] { fs.CopyWholeFile(a, P(L"b.txt")); },
      [&] { fs.CreateDir(P(L"new") + nul + L"x"); }, [&] { fs.RemoveDir(d + L"x"); },
      [&] { fs.ChangeDir(d + L"x"); }};
  for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_THROW(refused[i](), VslError) << "case " << i;
  fs.RemoveMatching(P(L"a.txt") + nul + L"*");  // finds nothing to delete
  EXPECT_EQ(m.Read(L"a.txt"), "keep");
  EXPECT_EQ(fs.GetAttributes(P(L"a.txt")) & kAttrReadOnly, 0u);
  EXPECT_EQ(Names(fs.Find(P(L"*"))), (V{L".", L"..", L"a.txt", L"d"}));
  EXPECT_EQ(fs.CurrentDir(), P());
}

TEST_F(FileSystemTest, TemporaryFilesAreNewAndEmpty) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 20; ++i) {
    const std::wstring path = m.Sys().MakeTempFile(i % 2 == 0 ? P() : P() + L"\\", L"DSK");
    EXPECT_EQ(text::Fold(path.substr(0, P().size() + 4)), text::Fold(P() + L"\\DSK")) << text::ToUtf8(path);
    EXPECT_EQ(text::Fold(path.substr(path.size() - 4)), L".TMP");
    EXPECT_TRUE(seen.insert(text::Fold(path)).second);
    EXPECT_EQ(fs.Open(path, OpenMode::Read)->ReadAll(), "");
  }
  EXPECT_THROW(m.Sys().MakeTempFile(P(L"missing"), L"DSK"), VslError);
}

}  // namespace
