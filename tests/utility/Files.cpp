// File, directory and system-path operations beyond what tests/scripts/files reaches.
#include "Doubles.h"
#include "utility/Utility.h"

using namespace Utility;
namespace stdfs = std::filesystem;

using FilesTest = ScratchPlatform;

// Tree deletion while parsing: never through a link, never of a file; the answer is the last entry's.
TEST_F(FilesTest, DelTree) {
  MakeTree(m, {{L"outside/keep.txt", "keep"}, {L"ro.txt", "ro"}, {L"t/a.txt", "x"}, {L"e/", ""}});
  m.MakeReadOnly(L"ro.txt");
  stdfs::create_directory_symlink(m.HostPath(L"outside"), m.HostPath(L"t/dirlink"));
  stdfs::create_symlink(m.HostPath(L"ro.txt"), m.HostPath(L"t/rolink"));
  EXPECT_TRUE(DelTree(m.Path(L"t")));  // links go as links: their targets stay as they are
  EXPECT_FALSE(m.Exists(L"t"));
  EXPECT_EQ(m.Read(L"outside/keep.txt"), "keep");
  EXPECT_EQ(fs.GetAttributes(m.Path(L"ro.txt")) & platform::kAttrReadOnly, platform::kAttrReadOnly);
  EXPECT_FALSE(DelTree(L"e\\"));  // nothing inside
  EXPECT_FALSE(m.Exists(L"e"));
  EXPECT_FALSE(DelTree(L"\\"));  // never the root of a drive
  EXPECT_FALSE(RemoveDir(L"none"));  // rd of a missing directory
  stdfs::create_directory_symlink(m.HostPath(L"outside"), m.HostPath(L"link"));
  for (const wchar_t* p : {L"link", L"ro.txt"}) EXPECT_THROW(DelTree(m.Path(p)), VslError) << p;
  EXPECT_EQ(m.Read(L"outside/keep.txt"), "keep");
}

// Tree deletion in the executor takes only a full path on the current drive and always answers False.
TEST_F(FilesTest, DelDirTree) {
  for (const wchar_t* f : {L"T/sub/f.txt", L"r/f.txt", L"ddrive/sub/f.txt"}) m.Write(f, "x");
  MapDrive('d', L"ddrive");
  for (std::wstring p : {std::wstring(L"r"), m.Path() + L"\\\\r", std::wstring(L"D:\\sub")})
    EXPECT_FALSE(DelDirTree(p));
  for (const wchar_t* f : {L"r/f.txt", L"ddrive/sub/f.txt"}) EXPECT_TRUE(m.Exists(f)) << f;
  std::wstring path = m.Path() + L"\\t\\";
  EXPECT_FALSE(DelDirTree(path));
  EXPECT_FALSE(m.Exists(L"T"));
  EXPECT_EQ(CurrentDirectory(), m.Path());
}

// XCopy goes back to the caller's directory and never writes through a link at the target.
TEST_F(FilesTest, XCopy) {
  MakeTree(m, {{L"src/sub/f.txt", "f"}, {L"src/z.txt", "z"}, {L"outside/", ""}, {L"dst/", ""}});
  stdfs::create_directory_symlink(m.HostPath(L"outside"), m.HostPath(L"dst/sub"));
  stdfs::create_directory_symlink(m.HostPath(L"outside"), m.HostPath(L"tlink"));
  fs.ChangeDir(m.Path(L"src\\sub"));
  EXPECT_TRUE(xCopy(m.Path(L"src"), m.Path(L"dst"), false));
  EXPECT_TRUE(xCopy(m.Path(L"src"), m.Path(L"tlink"), false));
  EXPECT_EQ(ui.pumps, 0);
  EXPECT_EQ(CurrentDirectory(), m.Path(L"src\\sub"));
  EXPECT_TRUE(stdfs::is_empty(m.HostPath(L"outside")));
  EXPECT_EQ(m.Read(L"dst/z.txt"), "z");
  const std::wstring title = L"Varnel Script Language: Error xCopyFile : SRC = ";
  EXPECT_EQ(ui.shown, (std::vector<std::wstring>{title + m.Path(L"src\\sub") + L" TGT = " + m.Path(L"dst\\sub"),
                                                 title + m.Path(L"src") + L" TGT = " + m.Path(L"tlink")}));
  EXPECT_EQ(ui.icons[0], platform::MessageIcon::None);
  // Two drives whose directories are spelt alike but for the letter keep apart.
  m.Write(L"d/a/d.txt", "d"), m.Write(L"e/a/e.txt", "e");
  MapDrive('d', L"d"), MapDrive('e', L"e");
  EXPECT_EQ(fs.Open(L"D:\\a\\d.txt", platform::OpenMode::Read)->ReadAll() +
            fs.Open(L"E:\\a\\e.txt", platform::OpenMode::Read)->ReadAll(), "de");
  EXPECT_FALSE(xCopy(L"none", L"dst", false));
  EXPECT_EQ(ui.icons.back(), platform::MessageIcon::Exclamation);
  // One level's answer, which xCopy ignores: False only when the top level itself fails.
  EXPECT_TRUE(xCopyFile(m.Path(L"src"), m.Path(L"dst"), false));
  EXPECT_FALSE(xCopyFile(m.Path(L"src"), m.Path(L"tlink"), false));
}

// Copy of one file: any failure ends the program with status 1.
TEST_F(FilesTest, GuardedCopy) {
  MakeTree(m, {{L"a.txt", "data"}, {L".hidden", "x"}});
  ASSERT_EQ(::link(m.HostPath(L"a.txt").c_str(), m.HostPath(L"hard.txt").c_str()), 0);
  stdfs::create_symlink(m.HostPath(L"a.txt"), m.HostPath(L"soft.txt"));
  const struct { std::wstring src, tgt; bool copied; } rows[] = {
      {m.Path(L"a.txt"), L"b.txt", true}, {L"a.txt", L"soft.txt", true} /* the link is replaced */,
      {L"none.txt", L"c.txt", false}, {L".hidden", L"c.txt", false}, {L"a.txt", L"nodir\\c.txt", false},
      {L"Q:\\a.txt", L"c.txt", false}, {m.Path(L"a.txt"), L".\\x\\..\\A.txt", false}, {L"a.txt", L"hard.txt", false}};
  for (const auto& r : rows) {
    int status = 0;
    try { EXPECT_TRUE(GuardedCopy(r.src, r.tgt)); } catch (const ProgramExit& e) { status = e.Status(); }
    EXPECT_EQ(status, r.copied ? 0 : 1) << text::ToUtf8(r.src + L" -> " + r.tgt);
  }
  EXPECT_FALSE(stdfs::is_symlink(m.HostPath(L"soft.txt")));
  for (const wchar_t* f : {L"a.txt", L"b.txt", L"soft.txt"}) EXPECT_EQ(m.Read(f), "data") << f;
  EXPECT_FALSE(m.Exists(L"c.txt"));
}

// Paths of 255 characters or more do not fit the buffers and give nothing.
TEST_F(FilesTest, SystemPathsAndTemporaryNames) {
  const std::wstring pad(252 - m.Path().size(), L'p');
  for (const std::wstring& d : {pad, pad + L"p"}) m.MakeDir(d);
  const std::wstring fits = m.Path(pad) + L"\\", tooLong = m.Path(pad + L"p") + L"\\";
  ASSERT_EQ(fits.size(), 254u);
  sys.windowsDir = std::wstring(254, L'w');
  sys.tempDir = fits;
  EXPECT_EQ(GetWinDir(), sys.windowsDir);
  EXPECT_EQ(GetTempDir(), fits);
  EXPECT_EQ(MakeTempFileName(), fits + L"DSK1.TMP");
  EXPECT_TRUE(m.Exists(pad + L"/DSK1.TMP"));
  EXPECT_EQ(CreateTempName(), fits + L"DSK1.TMP");
  EXPECT_FALSE(m.Exists(pad + L"/DSK1.TMP"));  // the name is handed out free
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
