// The POSIX file system: names without case, links, mode bits, wildcards, temporary names.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/TestMachine.h"
#include "platform/posix/FileSystem.h"

using namespace platform;
using V = std::vector<std::wstring>;
using S = std::vector<std::string>;
namespace sfs = std::filesystem;

static mode_t Mode(const std::string& path) {
  struct stat st{};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Three blocks of 1 MiB and a few bytes more, no two neighbours alike.
static std::string Blocks() {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  return bytes;
}

class PosixFs : public ::testing::Test {
 protected:
  TestMachine m;
  posix::PosixFileSystem& fs = dynamic_cast<posix::PosixFileSystem&>(m.Fs());
  const std::string prefix = std::getenv("VSL_PREFIX");
  std::wstring W(const std::wstring& rel = L"") { return m.Path(rel); }
  std::string H(const std::wstring& rel = L"") { return m.HostPath(rel); }
  V Listed(const std::wstring& pattern) { return Names(fs.Find(pattern), false); }  // in the order found
};

TEST_F(PosixFs, ResolvesPathsOnTheHostWithoutCase) {
  MakeTree(m, {{L"a/b.txt", ""}, {L"Data/Readme.TXT", ""}, {L"two/abc", ""}, {L"two/ABC", ""}, {L"d/", ""}});
  fs.ChangeDir(W(L"A"));
  EXPECT_EQ(fs.CurrentDir(), W(L"a"));
  // The spelling on disk; after a component without a match the rest as written;
  // of several spellings an exact one, else the first.
  const std::pair<std::wstring, std::string> cases[] = {{L"..\\a/./b.txt", H(L"a/b.txt")}, {L"Z:\\..\\..\\etc", "/etc"},
      {W(L"DATA\\Missing\\Sub"), H(L"Data/Missing/Sub")}, {W(L"two\\Abc"), H(L"two/ABC")}, {W(L"two\\abc"), H(L"two/abc")}};
  for (const auto& [path, host] : cases) EXPECT_EQ(fs.HostPath(path), host) << text::ToUtf8(path);
  EXPECT_EQ(fs.FullPath(W(L"data\\README.txt")), W(L"Data\\Readme.TXT"));
  // Its own changes are seen at once (a program's: tests/scripts/process/changes_by_a_program.vsl).
  EXPECT_EQ(fs.HostPath(W(L"d\\NEW.txt")), H(L"d/NEW.txt"));
  m.Write(L"d/new.TXT", "");
  fs.CreateDir(W(L"d\\Made")), fs.RemoveFile(W(L"d\\NEW.TXT"));
  EXPECT_EQ((S{fs.HostPath(W(L"d\\MADE")), fs.HostPath(W(L"d\\new.txt"))}), (S{H(L"d/Made"), H(L"d/new.txt")}));
}

TEST_F(PosixFs, AttributesComeFromModeBitsAndDotNames) {
  MakeTree(m, {{L"plain", ""}, {L".x.tmp", ""}, {L".cfg/empty/", ""}});
  ::chmod(H(L".cfg/empty").c_str(), 0555);
  EXPECT_EQ((std::vector<std::uint32_t>{fs.GetAttributes(W(L"plain")), fs.GetAttributes(W(L".x.tmp")),
                                        fs.GetAttributes(L"Z:\\")}),
            (std::vector<std::uint32_t>{kAttrArchive, kAttrArchive | kAttrHidden, kAttrDirectory}));
  ::chmod(H(L"plain").c_str(), 0664);
  fs.SetAttributes(W(L"plain"), kAttrReadOnly | kAttrArchive);
  const mode_t readOnly = Mode(H(L"plain"));  // only the owner's write bit goes
  fs.SetAttributes(W(L"plain"), kAttrNormal);
  fs.Open(W(L"private"), OpenMode::CreatePrivate);
  EXPECT_EQ((std::vector<mode_t>{readOnly, Mode(H(L"plain")), Mode(H(L"private"))}), (std::vector<mode_t>{0464, 0664, 0600}));
  const auto dots = fs.Find(W(L".cfg\\empty\\"));  // "." and ".." carry the attributes of what they name
  ASSERT_EQ(Names(dots, false), (V{L".", L".."}));
  EXPECT_EQ(std::pair(dots[0].attributes, dots[1].attributes),
            std::pair(kAttrDirectory | kAttrReadOnly, kAttrDirectory | kAttrHidden));
  const std::wstring plain = W(L"plain");
  EXPECT_EQ(Raised([&] { fs.ChangeDir(plain); }), L"Cannot change the directory to " + plain + L": not a directory");
  EXPECT_EQ(Raised([&] { fs.CreateDir(plain + L"\\sub"); }), L"Cannot create the directory " + plain + L"\\sub: not a directory");
  EXPECT_EQ(Raised([&] { fs.RemoveFile(W(L".cfg")); }), L"Cannot delete " + W(L".cfg") + L": it is a directory");
}

TEST_F(PosixFs, ListsInCaseInsensitiveOrderMatchingWildcardsAsWindowsDoes) {
  MakeTree(m, {{L"list/b.txt", ""}, {L"list/A.txt", ""}, {L"list/README", ""}, {L"list/.profile", ""}, {L"list/sub/", ""}});
  EXPECT_EQ(Listed(W(L"list\\*")), (V{L".", L"..", L".profile", L"A.txt", L"b.txt", L"README", L"sub"}));
  EXPECT_EQ(Listed(W(L"list\\readme.")), V{L"README"});
  for (const wchar_t* n : {L"abc.txt", L"abcd.txt", L"abcde.txt", L"ab", L"abx", L"abxyz", L"a.b.c", L"axc"})
    m.Write(std::wstring(L"q/") + n, "");
  // '?' matches nothing before a dot or at the end, one character elsewhere.
  const std::pair<const wchar_t*, V> cases[] = {{L"abc?.txt", {L"abc.txt", L"abcd.txt"}},
      {L"ABC??.TXT", {L"abc.txt", L"abcd.txt", L"abcde.txt"}}, {L"ab??", {L"ab", L"abx"}}, {L"a?.b?.c?", {L"a.b.c"}},
      {L"a?c", {L"axc"}}, {L"*?d*", {L"abcd.txt", L"abcde.txt"}}, {L"*x", {L"abx"}}, {L"a*c", {L"a.b.c", L"axc"}},
      {L"*X?", {L"abc.txt", L"abcd.txt", L"abcde.txt", L"abx", L"axc"}}};
  for (const auto& [pattern, expected] : cases) EXPECT_EQ(Listed(W(L"q\\") + pattern), expected) << text::ToUtf8(pattern);
  sfs::create_directories(H(L"odd/c:victim"));  // no component of a script path
  EXPECT_EQ(Listed(W(L"odd\\c*")), V{});
}

TEST_F(PosixFs, LinksAreFilesThatAreNeverEntered) {
  MakeTree(m, {{L"target/inside.txt", "in"}, {L"ro.txt", "keep"}, {L"src.txt", "new"}, {L"w.txt", "longer text"}});
  m.MakeReadOnly(L"ro.txt");
  sfs::create_directory_symlink(H(L"target"), H(L"dirlink"));
  sfs::create_symlink(H(L"gone"), H(L"broken"));
  sfs::create_symlink(H(L"ro.txt"), H(L"rolink"));
  sfs::create_symlink(H(L"w.txt"), H(L"wlink"));
  const std::pair<const wchar_t*, std::uint32_t> attributes[] = {{L"broken", kAttrArchive | kAttrReparsePoint},
      {L"DIRLINK", kAttrDirectory | kAttrReparsePoint}, {L"rolink", kAttrArchive | kAttrReadOnly | kAttrReparsePoint},
      {L"dirlink\\inside.txt", kAttrArchive}};
  for (auto [name, bits] : attributes)
    EXPECT_EQ(std::pair(fs.GetAttributes(W(name)), fs.Find(W(name)).at(0).attributes), std::pair(bits, bits));
  EXPECT_TRUE(fs.SameFile(W(L"rolink"), W(L"ro.txt")) && !fs.SamePlace(W(L"rolink"), W(L"ro.txt")));
  // Through a link a read-only file is just as read-only; a writable one is cut.
  EXPECT_EQ(Raised([&] { fs.Open(W(L"rolink"), OpenMode::Append); }),
            L"Cannot open " + W(L"rolink") + L" for appending: the file is read-only");
  fs.Open(W(L"wlink"), OpenMode::Write)->Write("ab");
  EXPECT_EQ(m.Read(L"w.txt"), "ab");
  EXPECT_THROW(fs.Open(W(L"wlink"), OpenMode::CreatePrivate), VslError);
  fs.CopyWholeFile(W(L"src.txt"), W(L"rolink"));  // a copy onto a link replaces the link
  EXPECT_FALSE(sfs::is_symlink(H(L"rolink")));
  EXPECT_EQ(m.Read(L"ro.txt") + m.Read(L"rolink"), "keepnew");
  ASSERT_EQ(::link(H(L"src.txt").c_str(), H(L"hard").c_str()), 0);
  EXPECT_TRUE(fs.SameFile(W(L"HARD"), W(L"src.txt")) && !fs.SamePlace(W(L"hard"), W(L"src.txt")));
}

TEST_F(PosixFs, CopiesAndReadsWholeFilesAcrossBlocks) {
  const std::string big = Blocks();
  MakeTree(m, {{L"big.bin", big}, {L"over.bin", "old content"}});
  ::chmod(H(L"big.bin").c_str(), 0751);
  fs.CopyWholeFile(W(L"BIG.BIN"), W(L"over.bin"));  // with its mode
  EXPECT_TRUE(m.Read(L"over.bin") == big && Mode(H(L"over.bin")) == 0751);
  // Text is read 64 KiB at a time: characters and broken sequences cut by a block's end decode as in the whole.
  std::string bytes = "\xEF\xBB\xBF";
  const std::pair<std::size_t, const char*> cuts[] = {{65536 - 1, "\xE2\x82\xAC"}, {2 * 65536 - 2, "\xF0\x9F\x98\x80"},
      {3 * 65536 - 1, "\xC3\xA9"}, {4 * 65536 - 2, "\xE2\x82z\xFF"}, {5 * 65536 - 3, "\xF0\x9F\x98\x80\n"}};
  for (auto [offset, piece] : cuts) bytes.append(offset - bytes.size(), 'a') += piece;
  MakeTree(m, {{L"big.vsl", bytes}, {L"cut.vsl", "ab\xE2\x82"}, {L"bom.vsl", "\xEF\xBB"}});
  EXPECT_EQ((V{fs.ReadTextFile(W(L"big.vsl")), fs.ReadTextFile(W(L"cut.vsl")), fs.ReadTextFile(W(L"bom.vsl"))}),
            (V{text::FromUtf8(std::string_view(bytes).substr(3)), L"ab\uFFFD\uFFFD", L"\uFFFD\uFFFD"}));
}

// Across file systems the kernel does not copy by itself, and the copy goes by blocks.
TEST_F(PosixFs, CopiesFromAnotherFileSystemByBlocks) {
  struct stat here{}, there{};
  ASSERT_EQ(::stat(H().c_str(), &here), 0);
  std::string dir;
  for (const char* d : {"/dev/shm", "/tmp"})
    if (dir.empty() && ::stat(d, &there) == 0 && there.st_dev != here.st_dev) dir = d;
  if (dir.empty()) GTEST_SKIP() << "no other file system at /dev/shm or /tmp";
  const std::string big = Blocks();
  const std::string other = dir + "/vsl-other-fs-" + std::to_string(::getpid());
  std::ofstream(other, std::ios::binary) << big;
  // Should the copy fail, its source, which lies outside the scratch directory, is removed all the same.
  EXPECT_NO_THROW(fs.CopyWholeFile(fs.DriveFormOf(other), W(L"from_other.bin")));
  sfs::remove(other);
  EXPECT_TRUE(m.Read(L"from_other.bin") == big) << dir;
}

TEST_F(PosixFs, ClimbsBackOutOfALinkToWhereItCameFrom) {
  // Deep enough, under a low descriptor limit, that the directories above are let go on the way down.
  std::string top = H(L"top"), target = H(L"elsewhere/target");
  for (int i = 0; i < 100; ++i) top += "/d", target += "/d";
  sfs::create_directories(top), sfs::create_directories(target);
  sfs::create_directory_symlink(H(L"elsewhere/target"), top.substr(0, H(L"top").size() + 100) + "/link");
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  const rlimit lower{80, saved.rlim_max};
  ::setrlimit(RLIMIT_NOFILE, &lower);
  fs.ChangeDir(W(L"top"));
  for (int i = 0; i < 50; ++i) fs.ChangeDir(L"d");
  fs.ChangeDir(L"link");
  for (int i = 0; i < 100; ++i) fs.ChangeDir(L"d");
  for (int i = 0; i < 101; ++i) fs.ChangeDir(L"..");
  EXPECT_EQ(Listed(L"*"), (V{L".", L"..", L"d", L"link"}));
  for (int i = 0; i < 50; ++i) fs.ChangeDir(L"..");
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(fs.CurrentDir(), W(L"top"));
}

TEST_F(PosixFs, DriveFormsFollowTheLinksAndTemporaryNamesGoToTheTemporaryDirectory) {
  sfs::create_directories(H(L"d1")), sfs::create_directories(H(L"d2"));  // d: leads through hop, then elsewhere
  sfs::create_directory_symlink(H(L"d1"), H(L"hop")), sfs::create_directory_symlink(H(L"hop"), prefix + "/dosdevices/d:");
  EXPECT_EQ(fs.DriveFormOf(H(L"d1")), L"D:\\");
  sfs::remove(H(L"hop")), sfs::create_directory_symlink(H(L"d2"), H(L"hop"));
  EXPECT_EQ((V{fs.DriveFormOf(H(L"d1")), fs.DriveFormOf(H(L"d2/x"))}), (V{W(L"d1"), L"D:\\x"}));
  System& sys = m.Sys();  // the arguments: every script test
  const std::wstring tmp = fs.DriveFormOf(std::getenv("TMPDIR"));
  // Names already taken, in either case: tests/scripts/encrypted/temp_names_taken.vsl.
  EXPECT_EQ(sys.MakeTempFile(tmp, L"DSK").rfind(tmp + L"\\DSK", 0), 0u);  // a backslash is added
  EXPECT_THROW(sys.MakeTempFile(W(L"missing"), L"DSK"), VslError);
  m.SetEnv("TMPDIR", "");
  EXPECT_EQ(sys.TempDir(), L"Z:\\tmp\\");
}
