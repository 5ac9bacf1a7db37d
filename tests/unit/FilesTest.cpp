// The Utility file, directory and system-path operations, run against the
// real POSIX file system in a temporary tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "PosixFsFixture.h"
#include "forms/Forms.h"
#include "utility/CSystemHelper.h"
#include "utility/Strings.h"
#include "utility/Utility.h"

namespace {

// The test paths are ASCII.
std::wstring AsciiLower(std::wstring s) {
  for (auto& c : s)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
  return s;
}

struct Shown {
  std::wstring title, text;
  platform::MessageIcon icon;
};

class FakeUi : public platform::Ui {
 public:
  void ShowMessage(const std::wstring& title, const std::wstring& text, platform::MessageIcon icon) override {
    shown.push_back({title, text, icon});
  }
  bool AskYesNo(const std::wstring&) override { return false; }
  std::wstring AskString(const std::wstring&, const std::wstring& initial) override { return initial; }
  void AskOk(const std::wstring&, const std::wstring&) override {}
  std::unique_ptr<platform::StatusWindow> CreateStatusWindow(int, int) override { return nullptr; }
  void PumpMessages() override { ++pumps; }
  std::pair<double, double> ScreenSize() override { return {15360, 11520}; }
  void ShowNotice(const std::wstring&) override {}
  void SetAbortExitStatus(int) override {}

  std::vector<Shown> shown;
  int pumps = 0;
};

class FilesTest : public PosixFsFixture {
 protected:
  void SetUp() override {
    PosixFsFixture::SetUp();
    sys_ = std::make_unique<posix::PosixSystem>(*fs_, 0, nullptr);
    platform::Platform p;
    p.fileSystem = fs_.get();
    p.system = sys_.get();
    p.ui = &ui_;
    scoped_ = std::make_unique<platform::ScopedPlatform>(p);
    fs_->ChangeDir(W());
  }
  void TearDown() override {
    scoped_.reset();
    sys_.reset();
    PosixFsFixture::TearDown();
  }
  void ReadOnly(const std::string& rel) { ::chmod(H(rel).c_str(), 0444); }
  // A sample tree: files at two levels, a read-only and a hidden file, an
  // empty directory and a link to a directory outside the tree.
  void MakeTree(const std::string& rel) {
    MakeFile(rel + "/a.txt", "a");
    MakeFile(rel + "/.hidden", "h");
    MakeFile(rel + "/ro.txt", "ro");
    ReadOnly(rel + "/ro.txt");
    MakeFile(rel + "/sub/b.txt", "b");
    MakeFile(rel + "/sub/deep/c.txt", "c");
    MakeDir(rel + "/empty");
    MakeFile("outside/keep.txt", "keep");
    std::filesystem::create_directory_symlink(H("outside"), H(rel + "/link"));
  }

  FakeUi ui_;
  std::unique_ptr<posix::PosixSystem> sys_;
  std::unique_ptr<platform::ScopedPlatform> scoped_;
};

}  // namespace

using namespace Utility;

TEST_F(FilesTest, IsFileExistsCountsOnlyPlainFiles) {
  MakeFile("a.txt");
  MakeFile(".h.cfg");
  MakeFile("ro.txt");
  ReadOnly("ro.txt");
  MakeDir("dir.txt");
  EXPECT_TRUE(IsFileExists(L"\"" + W("a.txt") + L"\""));
  EXPECT_TRUE(IsFileExists(L"A.TXT"));
  EXPECT_TRUE(IsFileExists(L"ro.txt"));
  EXPECT_FALSE(IsFileExists(L"dir.txt"));
  EXPECT_FALSE(IsFileExists(L".h.cfg"));
  EXPECT_FALSE(IsFileExists(L"none.txt"));
  EXPECT_FALSE(IsFileExists(L""));
  EXPECT_FALSE(IsFileExists(L"\"\""));
  EXPECT_TRUE(IsFileExists(W("*.txt")));
  EXPECT_FALSE(IsFileExists(W("*.cfg")));  // only a hidden file matches
}

TEST_F(FilesTest, IsDirExistsAlsoAcceptsPlainFiles) {
  MakeFile("f.txt");
  MakeDir("d/empty");
  MakeDir(".hid");
  EXPECT_TRUE(IsDirExists(W("d")));
  EXPECT_TRUE(IsDirExists(L"D"));
  EXPECT_TRUE(IsDirExists(W("d\\empty\\")));  // lists only "." and ".."
  EXPECT_TRUE(IsDirExists(L"f.txt"));
  EXPECT_FALSE(IsDirExists(L".hid"));
  EXPECT_FALSE(IsDirExists(L"none"));
  EXPECT_FALSE(IsDirExists(L""));
  EXPECT_FALSE(IsDirExists(L"\"" + W("d") + L"\""));  // no quote removal here
  EXPECT_THROW(IsDirExists(L"Q:\\x"), VslError);
}

TEST_F(FilesTest, DelFileDeletesMatchingPlainFiles) {
  MakeFile("m/a.log");
  MakeFile("m/B.LOG");
  MakeFile("m/.c.log");
  MakeFile("m/d.txt");
  EXPECT_TRUE(DelFile(L"\"" + W("m\\*.log") + L"\""));
  EXPECT_FALSE(Exists("m/a.log"));
  EXPECT_FALSE(Exists("m/B.LOG"));
  EXPECT_TRUE(Exists("m/.c.log"));
  EXPECT_TRUE(Exists("m/d.txt"));
  EXPECT_FALSE(DelFile(W("m\\*.log")));
  EXPECT_FALSE(DelFile(W("m\\.c.log")));
  EXPECT_TRUE(DelFile(L"m\\D.TXT"));
  EXPECT_FALSE(Exists("m/d.txt"));
}

TEST_F(FilesTest, RemoveDirRemovesOnlyEmptyDirectories) {
  MakeFile("full/f");
  MakeDir("empty");
  MakeFile("plain");
  EXPECT_FALSE(RemoveDir(W("full")));
  EXPECT_TRUE(Exists("full/f"));
  EXPECT_FALSE(RemoveDir(L"plain"));
  EXPECT_TRUE(Exists("plain"));
  EXPECT_FALSE(RemoveDir(L"none"));
  EXPECT_TRUE(RemoveDir(L"EMPTY"));
  EXPECT_FALSE(Exists("empty"));
}

TEST_F(FilesTest, ChangeDirSwitchesDriveAndDirectory) {
  MakeDir("ddrive/sub");
  MapDrive('d', H("ddrive"));
  EXPECT_TRUE(ChangeDir(L"\"D:\\sub\""));
  EXPECT_EQ(CurrentDirectory(), L"D:\\sub");
  EXPECT_TRUE(ChangeDir(W()));
  EXPECT_EQ(CurrentDirectory(), W());
  EXPECT_TRUE(ChangeDir(L"d:"));  // back to D:'s own current directory
  EXPECT_EQ(CurrentDirectory(), L"D:\\sub");
  // A failing directory change keeps the drive change.
  EXPECT_TRUE(ChangeDir(W()));
  EXPECT_FALSE(ChangeDir(L"D:\\none"));
  EXPECT_EQ(CurrentDirectory(), L"D:\\sub");
  // The first two characters select the drive: a relative path starting
  // with a letter that names no drive fails.
  EXPECT_FALSE(ChangeDir(L"qsub"));
  EXPECT_FALSE(ChangeDir(L""));
  EXPECT_EQ(CurrentDirectory(), L"D:\\sub");
}

TEST_F(FilesTest, MakeDirCreatesOneLevel) {
  MakeFile("plain", "p");
  EXPECT_TRUE(Utility::MakeDir(W("new")));
  EXPECT_TRUE(std::filesystem::is_directory(H("new")));
  EXPECT_TRUE(Utility::MakeDir(W("NEW")));
  EXPECT_TRUE(Utility::MakeDir(W("plain")));
  EXPECT_EQ(Read("plain"), "p");
  EXPECT_THROW(Utility::MakeDir(W("x\\y")), VslError);
  std::wstring quoted = L"\"" + W("p\\q\\r") + L"\"";
  MakeDirPath(quoted);
  EXPECT_EQ(quoted, W("p\\q\\r"));
  EXPECT_TRUE(std::filesystem::is_directory(H("p/q/r")));
}

TEST_F(FilesTest, DelTreeDeletesEverythingButFollowsNoLink) {
  MakeTree("t");
  MakeFile("t/z.txt");  // the last entry is a file
  EXPECT_TRUE(DelTree(W("t\\")));
  EXPECT_FALSE(Exists("t"));
  EXPECT_EQ(Read("outside/keep.txt"), "keep");
  EXPECT_EQ(CurrentDirectory(), W());
  EXPECT_GE(ui_.pumps, 8);
}

TEST_F(FilesTest, DelTreeAnswersForTheLastEntry) {
  MakeFile("t/a.txt");
  MakeDir("t/zz");
  EXPECT_FALSE(DelTree(W("t")));  // the last entry is an empty directory
  EXPECT_FALSE(Exists("t"));
  MakeDir("e");
  EXPECT_FALSE(DelTree(L"e"));
  EXPECT_FALSE(Exists("e"));
  MakeFile("u/zz/f.txt");
  EXPECT_TRUE(DelTree(W("u")));
}

TEST_F(FilesTest, DelTreeNeverDeletesADriveOrALink) {
  MakeFile("ddrive/sub/f.txt");
  MapDrive('d', H("ddrive"));
  fs_->ChangeDrive(L"D");
  EXPECT_FALSE(DelTree(L""));
  EXPECT_FALSE(DelTree(L"D:"));
  EXPECT_FALSE(DelTree(L"D:\\"));
  EXPECT_FALSE(DelTree(L"D:\\sub\\.."));
  EXPECT_FALSE(DelTree(L"\\"));
  EXPECT_TRUE(Exists("ddrive/sub/f.txt"));
  MakeFile("outside/keep.txt");
  std::filesystem::create_directory_symlink(H("outside"), H("link"));
  EXPECT_THROW(DelTree(W("link")), VslError);
  EXPECT_TRUE(Exists("outside/keep.txt"));
  EXPECT_THROW(DelTree(W("none")), VslError);
}

TEST_F(FilesTest, TreeOperationsStayInsideTreesWithUnspellableNames) {
  auto makeOdd = [this](const std::string& rel) {
    MakeFile(rel + "/a.txt", "a");
    for (const char* odd : {"...", "end.", "end ", "..\\victim", "c:victim", "x\\..\\..\\victim"})
      MakeFile(rel + "/" + odd + "/f.txt", "odd");
  };
  MakeFile("victim/keep.txt", "keep");
  MakeFile("t/victim/keep.txt", "keep");  // what "..\\victim" names from a subdirectory
  std::filesystem::create_directories(prefix_ + "/drive_c/victim");
  std::ofstream(prefix_ + "/drive_c/victim/keep.txt") << "keep";
  auto untouched = [&] {
    EXPECT_EQ(Read("victim/keep.txt"), "keep");
    EXPECT_EQ(Read("t/victim/keep.txt"), "keep");
    EXPECT_TRUE(std::filesystem::exists(prefix_ + "/drive_c/victim/keep.txt"));
  };

  // DelTree deletes what it can spell, then fails on the directory that
  // still holds the rest.
  makeOdd("t/d1");
  EXPECT_THROW(DelTree(W("t\\d1")), VslError);
  untouched();
  EXPECT_FALSE(Exists("t/d1/a.txt"));
  EXPECT_EQ(Read("t/d1/.../f.txt"), "odd");

  fs_->ChangeDir(W());
  makeOdd("t/d2");
  std::wstring path = W("t\\d2");
  EXPECT_THROW(DelDirTree(path), VslError);
  untouched();
  EXPECT_FALSE(Exists("t/d2/a.txt"));
  EXPECT_EQ(Read("t/d2/end./f.txt"), "odd");

  fs_->ChangeDir(W());
  makeOdd("src");
  EXPECT_TRUE(xCopy(W("src"), W("dst"), false));
  EXPECT_EQ(Read("dst/a.txt"), "a");
  std::vector<std::string> copied;
  for (const auto& e : std::filesystem::recursive_directory_iterator(H("dst")))
    copied.push_back(e.path().string().substr(H("dst").size()));
  EXPECT_EQ(copied, std::vector<std::string>{"/a.txt"});
  EXPECT_FALSE(Exists("victim/a.txt"));
  EXPECT_FALSE(Exists("dst/victim"));
  untouched();
}

TEST_F(FilesTest, LinksToDirectoriesServePathsButNotTreeOperations) {
  MakeFile("outside/keep.txt", "keep");
  MakeFile("rofile.txt", "ro");
  ReadOnly("rofile.txt");
  std::filesystem::create_directory_symlink(H("outside"), H("lib"));
  EXPECT_TRUE(IsDirExists(W("lib")));
  EXPECT_FALSE(IsFileExists(W("lib")));
  std::wstring deep = W("lib\\x\\y");
  MakeDirPath(deep);
  EXPECT_TRUE(std::filesystem::is_directory(H("outside/x/y")));
  EXPECT_TRUE(ChangeDir(W("lib\\x")));
  fs_->ChangeDir(W());

  // Inside a tree, links are deleted or copied as links, whatever they
  // point to; their targets stay as they are.
  MakeFile("t/a.txt");
  std::filesystem::create_directory_symlink(H("outside"), H("t/dirlink"));
  std::filesystem::create_symlink(H("rofile.txt"), H("t/rolink"));
  EXPECT_TRUE(xCopy(W("t"), W("copy"), false));
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(std::filesystem::read_symlink(H("copy/dirlink")), H("outside"));
  EXPECT_EQ(std::filesystem::read_symlink(H("copy/rolink")), H("rofile.txt"));
  EXPECT_TRUE(DelTree(W("t")));
  EXPECT_FALSE(Exists("t"));
  std::wstring copy = W("copy");
  EXPECT_FALSE(DelDirTree(copy));
  EXPECT_FALSE(Exists("copy"));
  EXPECT_EQ(Read("outside/keep.txt"), "keep");
  EXPECT_TRUE(std::filesystem::is_directory(H("outside/x/y")));
  EXPECT_EQ(Read("rofile.txt"), "ro");
  EXPECT_EQ(::access(H("rofile.txt").c_str(), F_OK), 0);
  struct stat st;
  ASSERT_EQ(::stat(H("rofile.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IWUSR, 0u);  // the target kept its read-only mode

  // A link given as the tree itself is refused.
  EXPECT_THROW(DelTree(W("lib")), VslError);
  std::wstring lib = W("lib");
  EXPECT_FALSE(DelDirTree(lib));
  EXPECT_FALSE(xCopy(W("lib"), W("copy2"), false));
  EXPECT_EQ(ui_.shown.back().text, W("lib") + L" is not a directory.");
  EXPECT_EQ(Read("outside/keep.txt"), "keep");
  EXPECT_FALSE(Exists("copy2"));
}

TEST_F(FilesTest, DelDirTreeNeedsAFullPathOnTheCurrentDrive) {
  MakeTree("t");
  std::wstring path = AsciiLower(W("t")) + L"\\";
  EXPECT_FALSE(DelDirTree(path));
  EXPECT_EQ(path, text::Fold(W("t")));
  EXPECT_FALSE(Exists("t"));
  EXPECT_EQ(Read("outside/keep.txt"), "keep");
  EXPECT_EQ(CurrentDirectory(), W());

  MakeFile("r/f.txt");
  std::wstring relative = L"r";
  EXPECT_FALSE(DelDirTree(relative));
  EXPECT_TRUE(Exists("r/f.txt"));
  std::wstring doubled = W() + L"\\\\r";
  EXPECT_FALSE(DelDirTree(doubled));
  EXPECT_TRUE(Exists("r/f.txt"));

  MakeFile("ddrive/sub/f.txt");
  MapDrive('d', H("ddrive"));
  std::wstring other = L"D:\\sub";
  EXPECT_FALSE(DelDirTree(other));  // D: is not the current drive
  EXPECT_TRUE(Exists("ddrive/sub/f.txt"));
  std::wstring root = L"D:\\";
  fs_->ChangeDrive(L"D");
  EXPECT_FALSE(DelDirTree(root));
  EXPECT_TRUE(Exists("ddrive/sub/f.txt"));
  other = L"D:\\sub";
  EXPECT_FALSE(DelDirTree(other));
  EXPECT_FALSE(Exists("ddrive/sub"));
  EXPECT_TRUE(Exists("ddrive"));
}

TEST_F(FilesTest, DelDirTreeDoesNotEnterALink) {
  MakeFile("outside/keep.txt");
  std::filesystem::create_directory_symlink(H("outside"), H("link"));
  std::wstring path = W("link");
  EXPECT_FALSE(DelDirTree(path));
  EXPECT_TRUE(Exists("outside/keep.txt"));
  EXPECT_TRUE(Exists("link"));
}

TEST_F(FilesTest, ChDirConfirmComparesWithoutCase) {
  MakeDir("Sub");
  std::wstring p = AsciiLower(W("sub"));
  EXPECT_TRUE(ChDirConfirm(p));
  EXPECT_EQ(p, text::Fold(W("sub")));
  std::wstring missing = W("none");
  EXPECT_FALSE(ChDirConfirm(missing));
  std::wstring bare = L"Z:";
  EXPECT_FALSE(ChDirConfirm(bare));
}

TEST_F(FilesTest, XCopyCopiesTheTreeAndLinksAsLinks) {
  MakeTree("src");
  MakeDir("dst");
  fs_->ChangeDir(W("src\\sub"));
  EXPECT_TRUE(xCopy(W("src"), W("dst"), false));
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(CurrentDirectory(), W("src\\sub"));
  EXPECT_EQ(Read("dst/a.txt"), "a");
  EXPECT_EQ(Read("dst/.hidden"), "h");
  EXPECT_EQ(Read("dst/sub/b.txt"), "b");
  EXPECT_EQ(Read("dst/sub/deep/c.txt"), "c");
  EXPECT_TRUE(std::filesystem::is_directory(H("dst/empty")));
  EXPECT_EQ(fs_->GetAttributes(W("dst\\ro.txt")) & platform::kAttrReadOnly, platform::kAttrReadOnly);
  EXPECT_TRUE(std::filesystem::is_symlink(H("dst/link")));
  EXPECT_EQ(std::filesystem::read_symlink(H("dst/link")), H("outside"));
  EXPECT_EQ(ui_.pumps, 0);
}

TEST_F(FilesTest, XCopyCompletesRelativePathsAndCreatesTheTarget) {
  MakeFile("src/a.txt", "a");
  EXPECT_TRUE(xCopy(L"src", L"out", false));
  EXPECT_EQ(Read("out/a.txt"), "a");
  // A target whose parent is missing cannot be created: one message.
  EXPECT_TRUE(xCopy(L"src", L"no\\out", false));
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, L"Error xCopyFile : SRC = " + W() + L"\\src TGT = " + W() + L"\\no\\out");
  EXPECT_EQ(ui_.shown[0].title, L"Varnel Script Language");
  EXPECT_EQ(ui_.shown[0].icon, platform::MessageIcon::None);
  EXPECT_EQ(CurrentDirectory(), W());
}

TEST_F(FilesTest, XCopyReportsAMissingOrPlainSource) {
  MakeFile("plain.txt");
  EXPECT_FALSE(xCopy(W("none"), W("dst"), false));
  EXPECT_FALSE(xCopy(L"plain.txt", W("dst"), false));
  ASSERT_EQ(ui_.shown.size(), 2u);
  EXPECT_EQ(ui_.shown[0].text, W("none") + L" does not exist.");
  EXPECT_EQ(ui_.shown[0].icon, platform::MessageIcon::Exclamation);
  EXPECT_EQ(ui_.shown[0].title, L"Varnel Script Language");
  EXPECT_EQ(ui_.shown[1].text, W() + L"\\plain.txt is not a directory.");
  EXPECT_EQ(ui_.shown[1].icon, platform::MessageIcon::Exclamation);
  EXPECT_FALSE(Exists("dst"));
}

TEST_F(FilesTest, XCopyFileKeepsCopyingAfterAFailingSubdirectory) {
  // The hidden file .sub in the target blocks the directory of that name.
  MakeFile("src/.sub/x.txt", "x");
  MakeFile("src/b.txt", "b");
  MakeFile("dst/.sub", "a hidden file where the directory should go");
  EXPECT_TRUE(xCopyFile(W("src"), W("dst"), true));
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, L"Error xCopyFile : SRC = " + W("src\\.sub") + L" TGT = " + W("dst\\.sub"));
  EXPECT_EQ(Read("dst/.sub"), "a hidden file where the directory should go");
  EXPECT_EQ(Read("dst/b.txt"), "b");
  EXPECT_EQ(CurrentDirectory(), W());
  EXPECT_EQ(ui_.pumps, 2);
}

TEST_F(FilesTest, XCopyFileNeverWritesThroughALinkAtTheTarget) {
  MakeFile("src/sub/f.txt", "f");
  MakeFile("src/z.txt", "z");
  MakeDir("outside");
  MakeDir("dst");
  std::filesystem::create_directory_symlink(H("outside"), H("dst/sub"));
  EXPECT_TRUE(xCopyFile(W("src"), W("dst"), false));
  EXPECT_TRUE(std::filesystem::is_empty(H("outside")));
  EXPECT_EQ(Read("dst/z.txt"), "z");
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, L"Error xCopyFile : SRC = " + W("src\\sub") + L" TGT = " + W("dst\\sub"));
  EXPECT_EQ(CurrentDirectory(), W());

  // The same for a link given as the target of the whole copy.
  ui_.shown.clear();
  std::filesystem::create_directory_symlink(H("outside"), H("tlink"));
  EXPECT_TRUE(xCopy(W("src"), W("tlink"), false));
  EXPECT_TRUE(std::filesystem::is_empty(H("outside")));
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, L"Error xCopyFile : SRC = " + W("src") + L" TGT = " + W("tlink"));
}

TEST_F(FilesTest, XCopyFileOntoAPlainFileSkipsItsFilesAndFailsItsSubdirectories) {
  // A plain file counts as an existing directory: nothing is created for
  // its level and its files fail without a word; a directory below it
  // cannot be created, and that level alone is reported.
  MakeFile("src/plain/g.txt", "g");
  MakeFile("src/plain/deep/h.txt", "h");
  MakeFile("src/z.txt", "z");
  MakeFile("dst/plain", "a file where the directory should go");
  EXPECT_TRUE(xCopyFile(W("src"), W("dst"), false));
  EXPECT_EQ(Read("dst/plain"), "a file where the directory should go");
  EXPECT_EQ(Read("dst/z.txt"), "z");
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text,
            L"Error xCopyFile : SRC = " + W("src\\plain\\deep") + L" TGT = " + W("dst\\plain\\deep"));
  EXPECT_EQ(CurrentDirectory(), W());
}

TEST_F(FilesTest, GuardedCopyEndsTheProgramOnFailure) {
  MakeFile("a.txt", "data");
  MakeFile("ro.txt", "keep");
  ReadOnly("ro.txt");
  MakeFile(".hidden", "h");
  EXPECT_TRUE(GuardedCopy(W("a.txt"), L"b.txt"));
  EXPECT_EQ(Read("b.txt"), "data");
  auto status = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const ProgramExit& e) {
      return e.Status();
    }
    return -1;
  };
  EXPECT_EQ(status([] { GuardedCopy(L"none.txt", L"c.txt"); }), 1);
  EXPECT_FALSE(Exists("c.txt"));
  EXPECT_EQ(status([] { GuardedCopy(L".hidden", L"c.txt"); }), 1);
  EXPECT_EQ(status([] { GuardedCopy(L"a.txt", L"ro.txt"); }), 1);
  EXPECT_EQ(Read("ro.txt"), "keep");
  EXPECT_EQ(status([] { GuardedCopy(L"a.txt", L"nodir\\c.txt"); }), 1);
  EXPECT_EQ(status([] { GuardedCopy(L"Q:\\a.txt", L"c.txt"); }), 1);
  // Onto itself, however spelt: the source keeps its content.
  EXPECT_EQ(status([] { GuardedCopy(L"a.txt", L"A.TXT"); }), 1);
  EXPECT_EQ(status([&] { GuardedCopy(W("a.txt"), L".\\x\\..\\a.txt"); }), 1);
  EXPECT_EQ(Read("a.txt"), "data");
  // Another hard link is the same file: refused. A link is replaced.
  ASSERT_EQ(::link(H("a.txt").c_str(), H("hard.txt").c_str()), 0);
  EXPECT_EQ(status([] { GuardedCopy(L"a.txt", L"hard.txt"); }), 1);
  EXPECT_EQ(Read("a.txt"), "data");
  std::filesystem::create_symlink(H("a.txt"), H("soft.txt"));
  EXPECT_TRUE(GuardedCopy(L"a.txt", L"soft.txt"));
  EXPECT_FALSE(std::filesystem::is_symlink(H("soft.txt")));
  EXPECT_EQ(Read("soft.txt"), "data");
  EXPECT_EQ(Read("a.txt"), "data");
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(FilesTest, SystemPathsAndTemporaryNames) {
  EXPECT_EQ(GetWinDir(), L"C:\\windows");
  EXPECT_TRUE(IsWindowsNT());
  const std::wstring tmp = Z(root_ + "/tmp") + L"\\";
  EXPECT_EQ(GetTempDir(), tmp);
  std::wstring a = MakeTempFileName(), b = MakeTempFileName();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.compare(0, tmp.size(), tmp), 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(fs_->HostPath(a)));
  EXPECT_TRUE(IsTempName(a.substr(tmp.size())));
  std::wstring name = CreateTempName();
  ASSERT_EQ(name.compare(0, tmp.size(), tmp), 0);
  EXPECT_TRUE(IsTempName(name.substr(tmp.size())));
  EXPECT_FALSE(std::filesystem::exists(fs_->HostPath(name)));
  ::setenv("TMPDIR", (root_ + "/missing").c_str(), 1);
  EXPECT_EQ(CreateTempName(), L"");
  EXPECT_EQ(MakeTempFileName(), L"");
}

namespace {
// A system that reports no temporary directory.
class NoTempSystem : public platform::System {
 public:
  std::wstring WindowsDir() override { return std::wstring(300, L'x'); }
  bool IsWindowsNT() override { return true; }
  std::wstring TempDir() override { return L""; }
  std::wstring MakeTempFile(const std::wstring&, const std::wstring&) override { throw VslError(L"no"); }
  std::wstring CommandLineText() override { return L""; }
  std::vector<std::wstring> Arguments() override { return {}; }
  std::wstring EnvironmentValue(const std::wstring&) override { return L""; }
  void Print(platform::OutputStream, const std::wstring&) override {}
};
}  // namespace

TEST_F(FilesTest, TempDirFallsBackToCTemp) {
  NoTempSystem none;
  platform::Platform p = platform::Current();
  p.system = &none;
  platform::ScopedPlatform scoped(p);
  EXPECT_EQ(GetTempDir(), L"");
  fs_->CreateDir(L"C:\\temp");
  EXPECT_EQ(GetTempDir(), L"C:\\temp\\");
  EXPECT_EQ(GetWinDir(), L"");  // longer than the buffer
  EXPECT_EQ(CreateTempName(), L"");
}
