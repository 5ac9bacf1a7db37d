// File, directory and system-path operations beyond what tests/scripts/files reaches.
#include "Doubles.h"
#include "utility/Utility.h"

using namespace Utility;
namespace stdfs = std::filesystem;

using FilesTest = ScratchPlatform;

// Tree deletion while parsing: never through a link, never of a file; the answer is the last entry's.
TEST_F(FilesTest, DelTree) {
  dir.Make("outside/keep.txt", "keep");
  dir.Make("ro.txt", "ro", 0444);
  dir.Make("t/a.txt");
  stdfs::create_directory_symlink(dir.H("outside"), dir.H("t/dirlink"));
  stdfs::create_symlink(dir.H("ro.txt"), dir.H("t/rolink"));
  dir.Dir("e");
  EXPECT_TRUE(DelTree(dir.W("t")));  // links go as links: their targets stay as they are
  EXPECT_FALSE(dir.Exists("t"));
  EXPECT_EQ(dir.Read("outside/keep.txt"), "keep");
  EXPECT_EQ(fs.GetAttributes(dir.W("ro.txt")) & platform::kAttrReadOnly, platform::kAttrReadOnly);
  EXPECT_FALSE(DelTree(L"e\\"));  // nothing inside
  EXPECT_FALSE(dir.Exists("e"));
  EXPECT_FALSE(DelTree(L"\\"));  // never the root of a drive
  EXPECT_FALSE(RemoveDir(L"none"));  // rd of a missing directory
  stdfs::create_directory_symlink(dir.H("outside"), dir.H("link"));
  for (const char* p : {"link", "ro.txt"}) EXPECT_THROW(DelTree(dir.W(p)), VslError) << p;
  EXPECT_EQ(dir.Read("outside/keep.txt"), "keep");
}

// Tree deletion in the executor takes only a full path on the current drive and always answers False.
TEST_F(FilesTest, DelDirTree) {
  for (const char* f : {"T/sub/f.txt", "r/f.txt", "ddrive/sub/f.txt"}) dir.Make(f);
  dir.MapDrive('d', "ddrive");
  for (std::wstring p : {std::wstring(L"r"), dir.W() + L"\\\\r", std::wstring(L"D:\\sub")}) EXPECT_FALSE(DelDirTree(p));
  for (const char* f : {"r/f.txt", "ddrive/sub/f.txt"}) EXPECT_TRUE(dir.Exists(f)) << f;
  std::wstring path = dir.W() + L"\\t\\";
  EXPECT_FALSE(DelDirTree(path));
  EXPECT_FALSE(dir.Exists("T"));
  EXPECT_EQ(CurrentDirectory(), dir.W());
}

// XCopy goes back to the caller's directory and never writes through a link at the target.
TEST_F(FilesTest, XCopy) {
  dir.Make("src/sub/f.txt", "f");
  dir.Make("src/z.txt", "z");
  for (const char* d : {"outside", "dst"}) dir.Dir(d);
  stdfs::create_directory_symlink(dir.H("outside"), dir.H("dst/sub"));
  stdfs::create_directory_symlink(dir.H("outside"), dir.H("tlink"));
  fs.ChangeDir(dir.W("src\\sub"));
  EXPECT_TRUE(xCopy(dir.W("src"), dir.W("dst"), false));
  EXPECT_TRUE(xCopy(dir.W("src"), dir.W("tlink"), false));
  EXPECT_EQ(ui.pumps, 0);
  EXPECT_EQ(CurrentDirectory(), dir.W("src\\sub"));
  EXPECT_TRUE(stdfs::is_empty(dir.H("outside")));
  EXPECT_EQ(dir.Read("dst/z.txt"), "z");
  const std::wstring title = L"Varnel Script Language: Error xCopyFile : SRC = ";
  EXPECT_EQ(ui.shown, (std::vector<std::wstring>{title + dir.W("src\\sub") + L" TGT = " + dir.W("dst\\sub"),
                                                 title + dir.W("src") + L" TGT = " + dir.W("tlink")}));
  EXPECT_EQ(ui.icons[0], platform::MessageIcon::None);
  // Two drives whose directories are spelt alike but for the letter keep apart.
  for (std::string d : {"d", "e"}) dir.Make(d + "/a/" + d + ".txt", d), dir.MapDrive(d[0], d);
  EXPECT_EQ(fs.Open(L"D:\\a\\d.txt", platform::OpenMode::Read)->ReadAll() +
            fs.Open(L"E:\\a\\e.txt", platform::OpenMode::Read)->ReadAll(), "de");
  EXPECT_FALSE(xCopy(L"none", L"dst", false));
  EXPECT_EQ(ui.icons.back(), platform::MessageIcon::Exclamation);
}

// Copy of one file: any failure ends the program with status 1.
TEST_F(FilesTest, GuardedCopy) {
  dir.Make("a.txt", "data");
  dir.Make(".hidden");
  ASSERT_EQ(::link(dir.H("a.txt").c_str(), dir.H("hard.txt").c_str()), 0);
  stdfs::create_symlink(dir.H("a.txt"), dir.H("soft.txt"));
  const struct { std::wstring src, tgt; bool copied; } rows[] = {
      {dir.W("a.txt"), L"b.txt", true}, {L"a.txt", L"soft.txt", true} /* the link is replaced */,
      {L"none.txt", L"c.txt", false}, {L".hidden", L"c.txt", false}, {L"a.txt", L"nodir\\c.txt", false},
      {L"Q:\\a.txt", L"c.txt", false}, {dir.W("a.txt"), L".\\x\\..\\A.txt", false}, {L"a.txt", L"hard.txt", false}};
  for (const auto& r : rows) {
    int status = 0;
    try { EXPECT_TRUE(GuardedCopy(r.src, r.tgt)); } catch (const ProgramExit& e) { status = e.Status(); }
    EXPECT_EQ(status, r.copied ? 0 : 1) << text::ToUtf8(r.src + L" -> " + r.tgt);
  }
  EXPECT_FALSE(stdfs::is_symlink(dir.H("soft.txt")));
  for (const char* f : {"a.txt", "b.txt", "soft.txt"}) EXPECT_EQ(dir.Read(f), "data") << f;
  EXPECT_FALSE(dir.Exists("c.txt"));
}

// Paths of 255 characters or more do not fit the buffers and give nothing.
TEST_F(FilesTest, SystemPathsAndTemporaryNames) {
  const std::string pad(252 - dir.W().size(), 'p');
  for (const std::string& d : {pad, pad + "p"}) dir.Dir(d);
  const std::wstring fits = dir.W(pad) + L"\\", tooLong = dir.W(pad + "p") + L"\\";
  ASSERT_EQ(fits.size(), 254u);
  sys.windowsDir = std::wstring(254, L'w');
  sys.tempDir = fits;
  EXPECT_EQ(GetWinDir(), sys.windowsDir);
  EXPECT_EQ(GetTempDir(), fits);
  EXPECT_EQ(MakeTempFileName(), fits + L"DSK1.TMP");
  EXPECT_TRUE(dir.Exists(pad + "/DSK1.TMP"));
  EXPECT_EQ(CreateTempName(), fits + L"DSK1.TMP");
  EXPECT_FALSE(dir.Exists(pad + "/DSK1.TMP"));  // the name is handed out free
  sys.windowsDir += L'w';
  sys.tempDir = tooLong;
  EXPECT_EQ(GetWinDir(), L"");
  for (const auto& f : {GetTempDir, MakeTempFileName, CreateTempName}) EXPECT_EQ(f(), L"");
  sys.tempDir = L"";
  EXPECT_EQ(GetTempDir(), L"");
  fs.CreateDir(L"C:\\temp");
  EXPECT_EQ(GetTempDir(), L"C:\\temp\\");
  EXPECT_EQ(MakeTempFileName(), L"C:\\temp\\DSK1.TMP");
}
