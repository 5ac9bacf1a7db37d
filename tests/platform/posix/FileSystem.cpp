// The POSIX file system's own behaviour: the prefix and its drives, names
// found without case on a file system with case, links, mode bits, the
// wildcards it matches itself, what it keeps of directories, and the system
// pieces that answer in drive form.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/TestMachine.h"
#include "platform/Text.h"
#include "platform/posix/FileSystem.h"
#include "platform/posix/System.h"

namespace {

using namespace platform;
using V = std::vector<std::wstring>;
namespace sfs = std::filesystem;

// The names of a listing in the order it came.
V InOrder(const std::vector<FindEntry>& entries) {
  V names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

mode_t Mode(const std::string& path) {
  struct stat st{};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }  // a new time stamp on a directory

class PosixFs : public ::testing::Test {
 protected:
  TestMachine m;
  posix::PosixFileSystem& fs = dynamic_cast<posix::PosixFileSystem&>(m.Fs());
  const std::string prefix = std::getenv("VSL_PREFIX");
  std::wstring W(const std::wstring& rel = L"") { return m.Path(rel); }
  std::string H(const std::wstring& rel = L"") { return m.HostPath(rel); }
  void MapDrive(char letter, const std::string& host) {
    sfs::create_directories(prefix + "/dosdevices");
    sfs::create_directory_symlink(host, prefix + "/dosdevices/" + std::string(1, letter) + ":");
  }
};

TEST_F(PosixFs, ResolvesPathsOnTheHostWithoutCase) {
  m.Write(L"a/b.txt", "");
  fs.ChangeDir(W(L"a"));
  EXPECT_EQ(fs.HostPath(L"..\\a/./b.txt"), H(L"a/b.txt"));
  EXPECT_EQ(fs.HostPath(L"Z:\\..\\..\\etc"), "/etc");
  const std::string driveC = sfs::canonical(prefix + "/drive_c").string();
  EXPECT_EQ(fs.HostPath(L"C:windows"), driveC + "/windows");  // C:'s own directory, its root at first
  fs.ChangeDir(L"C:\\windows");
  EXPECT_EQ(fs.HostPath(L"c:system32"), driveC + "/windows/system32");
  // The spelling on disk; after a component without a match the rest as
  // written; of several spellings an exact one, else the first.
  for (const wchar_t* f : {L"Data/Readme.TXT", L"two/abc", L"two/ABC"}) m.Write(f, "");
  EXPECT_EQ(fs.FullPath(W(L"data\\README.txt")), W(L"Data\\Readme.TXT"));
  EXPECT_EQ(fs.HostPath(W(L"DATA\\Missing\\Sub")), H(L"Data/Missing/Sub"));
  EXPECT_EQ(fs.HostPath(W(L"two\\Abc")), H(L"two/ABC"));
  EXPECT_EQ(fs.HostPath(W(L"two\\abc")), H(L"two/abc"));
  // Names made behind its back are seen; its own at once.
  m.MakeDir(L"d");
  EXPECT_EQ(fs.HostPath(W(L"d\\NEW.txt")), H(L"d/NEW.txt"));
  Pause();
  m.Write(L"d/new.TXT", "");
  EXPECT_EQ(fs.HostPath(W(L"d\\NEW.txt")), H(L"d/new.TXT"));
  fs.CreateDir(W(L"d\\Made"));
  EXPECT_EQ(fs.HostPath(W(L"d\\MADE")), H(L"d/Made"));
  fs.CopyWholeFile(W(L"d\\new.TXT"), W(L"d\\Copy.Txt"));
  EXPECT_EQ(fs.HostPath(W(L"d\\copy.txt")), H(L"d/Copy.Txt"));
  fs.RemoveFile(W(L"d\\COPY.TXT"));
  EXPECT_EQ(fs.HostPath(W(L"d\\copy.txt")), H(L"d/copy.txt"));
  EXPECT_THROW(fs.HostPath(W(L"a") + std::wstring(1, L'\0')), VslError);
}

TEST_F(PosixFs, MapsDrivesThroughThePrefix) {
  m.MakeDir(L"ddrive/sub");
  MapDrive('d', H(L"ddrive"));
  fs.ChangeDrive(L"d:");
  fs.ChangeDir(L"sub");
  EXPECT_EQ(fs.CurrentDir(), L"D:\\sub");
  for (int i = 0; i < 2; ++i) fs.ChangeDir(L"..");  // no higher than the root
  EXPECT_EQ(fs.CurrentDir(), L"D:\\");
  for (const auto& e : fs.Find(L"D:\\*")) EXPECT_TRUE(e.name != L"." && e.name != L"..");  // a root lists no dots
  EXPECT_EQ(fs.DriveFormOf(H(L"ddrive/sub")), L"D:\\sub");  // the longest target wins
  EXPECT_EQ(fs.DriveFormOf(H(L"elsewhere")), W(L"elsewhere"));
  m.MakeDir(L"edrive/x");
  Pause();
  MapDrive('e', H(L"edrive"));
  EXPECT_EQ(fs.DriveFormOf(H(L"edrive/x")), L"E:\\x");
  sfs::remove(prefix + "/dosdevices/e:");
  EXPECT_EQ(fs.DriveFormOf(H(L"edrive/x")), W(L"edrive\\x"));
  EXPECT_EQ(Raised([&] { fs.ChangeDrive(L"Q:"); }), L"The drive Q: does not exist");
  EXPECT_THROW(fs.ChangeDrive(L"\\x"), VslError);
  m.Write(L"f", "");
  EXPECT_EQ(Raised([&] { fs.ChangeDir(W(L"f")); }), L"Cannot change the directory to " + W(L"f") + L": not a directory");
  EXPECT_EQ(Raised([&] { fs.RemoveFile(W(L"ddrive")); }), L"Cannot delete " + W(L"ddrive") + L": it is a directory");
}

TEST_F(PosixFs, AttributesComeFromModeBitsAndDotNames) {
  m.Write(L"plain", "");
  m.Write(L".x.tmp", "");
  m.MakeDir(L".cfg/empty");
  ::chmod(H(L".cfg/empty").c_str(), 0555);
  EXPECT_EQ(fs.GetAttributes(W(L"plain")), kAttrArchive);
  EXPECT_EQ(fs.GetAttributes(W(L".x.tmp")), kAttrArchive | kAttrHidden);
  EXPECT_EQ(fs.GetAttributes(L"Z:\\"), kAttrDirectory);
  ::chmod(H(L"plain").c_str(), 0664);
  fs.SetAttributes(W(L"plain"), kAttrReadOnly | kAttrArchive);
  EXPECT_EQ(Mode(H(L"plain")), 0464u);  // only the owner's write bit goes
  fs.SetAttributes(W(L"plain"), kAttrNormal);
  EXPECT_EQ(Mode(H(L"plain")), 0664u);
  fs.Open(W(L"private"), OpenMode::CreatePrivate);
  EXPECT_EQ(Mode(H(L"private")), 0600u);
  // "." and ".." carry the attributes of the directories they name.
  const auto dots = fs.Find(W(L".cfg\\empty\\"));
  ASSERT_EQ(InOrder(dots), (V{L".", L".."}));
  EXPECT_EQ(dots[0].attributes, kAttrDirectory | kAttrReadOnly);
  EXPECT_EQ(dots[1].attributes, kAttrDirectory | kAttrHidden);
  fs.RemoveMatching(W(L"*.tmp"));  // hidden files stay
  EXPECT_TRUE(m.Exists(L".x.tmp"));
}

TEST_F(PosixFs, ListsInCaseInsensitiveOrderMatchingWildcardsAsWindowsDoes) {
  for (const wchar_t* n : {L"b.txt", L"A.txt", L"README", L".profile"}) m.Write(std::wstring(L"list/") + n, "");
  m.MakeDir(L"list/sub");
  EXPECT_EQ(InOrder(fs.Find(W(L"list\\*"))), (V{L".", L"..", L".profile", L"A.txt", L"b.txt", L"README", L"sub"}));
  EXPECT_EQ(InOrder(fs.Find(W(L"list\\readme."))), V{L"README"});
  for (const wchar_t* n : {L"abc.txt", L"abcd.txt", L"abcde.txt", L"ab", L"abx", L"abxyz", L"a.b.c", L"axc"})
    m.Write(std::wstring(L"q/") + n, "");
  // '?' matches nothing before a dot or at the end, one character elsewhere.
  const std::pair<const wchar_t*, V> cases[] = {
      {L"abc?.txt", {L"abc.txt", L"abcd.txt"}},
      {L"ABC??.TXT", {L"abc.txt", L"abcd.txt", L"abcde.txt"}},
      {L"ab??", {L"ab", L"abx"}},
      {L"a?.b?.c?", {L"a.b.c"}},
      {L"a?c", {L"axc"}},
      {L"*?d*", {L"abcd.txt", L"abcde.txt"}},
      {L"*X?", {L"abc.txt", L"abcd.txt", L"abcde.txt", L"abx", L"axc"}},
      {L"*x", {L"abx"}},
      {L"a*c", {L"a.b.c", L"axc"}},
  };
  for (const auto& [pattern, expected] : cases)
    EXPECT_EQ(InOrder(fs.Find(W(L"q\\") + pattern)), expected) << text::ToUtf8(pattern);
  sfs::create_directories(H(L"odd/c:victim"));  // no component of a script path
  EXPECT_EQ(InOrder(fs.Find(W(L"odd\\c*"))), V{});
}

TEST_F(PosixFs, LinksAreFilesThatAreNeverEntered) {
  m.Write(L"target/inside.txt", "in");
  m.Write(L"ro.txt", "keep");
  m.Write(L"src.txt", "new");
  m.MakeReadOnly(L"ro.txt");
  sfs::create_directory_symlink(H(L"target"), H(L"dirlink"));
  sfs::create_symlink(H(L"gone"), H(L"broken"));
  sfs::create_symlink(H(L"ro.txt"), H(L"rolink"));
  const std::pair<const wchar_t*, std::uint32_t> attributes[] = {
      {L"broken", kAttrArchive | kAttrReparsePoint},
      {L"DIRLINK", kAttrDirectory | kAttrReparsePoint},
      {L"rolink", kAttrArchive | kAttrReadOnly | kAttrReparsePoint},
      {L"dirlink\\inside.txt", kAttrArchive},
  };
  for (auto [name, bits] : attributes) {
    EXPECT_EQ(fs.GetAttributes(W(name)), bits) << text::ToUtf8(name);
    EXPECT_EQ(fs.Find(W(name)).at(0).attributes, bits) << text::ToUtf8(name);
  }
  EXPECT_TRUE(fs.SameFile(W(L"rolink"), W(L"ro.txt")));
  EXPECT_FALSE(fs.SamePlace(W(L"rolink"), W(L"ro.txt")));
  // Through a link a read-only file is just as read-only; a writable one is cut.
  EXPECT_EQ(Raised([&] { fs.Open(W(L"rolink"), OpenMode::Append); }),
            L"Cannot open " + W(L"rolink") + L" for appending: the file is read-only");
  m.Write(L"w.txt", "longer text");
  sfs::create_symlink(H(L"w.txt"), H(L"wlink"));
  fs.Open(W(L"wlink"), OpenMode::Write)->Write("ab");
  EXPECT_EQ(m.Read(L"w.txt"), "ab");
  EXPECT_THROW(fs.Open(W(L"wlink"), OpenMode::CreatePrivate), VslError);
  // A copy onto a link replaces the link.
  fs.CopyWholeFile(W(L"src.txt"), W(L"rolink"));
  EXPECT_FALSE(sfs::is_symlink(H(L"rolink")));
  EXPECT_EQ(m.Read(L"ro.txt"), "keep");
  ASSERT_EQ(::link(H(L"src.txt").c_str(), H(L"hard").c_str()), 0);
  EXPECT_TRUE(fs.SameFile(W(L"HARD"), W(L"src.txt")));
  EXPECT_FALSE(fs.SamePlace(W(L"hard"), W(L"src.txt")));
}

TEST_F(PosixFs, CopiesAndReadsWholeFilesAcrossBlocks) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 % 251);
  m.Write(L"big.bin", big);
  ::chmod(H(L"big.bin").c_str(), 0751);
  m.Write(L"over.bin", "old content");
  fs.CopyWholeFile(W(L"BIG.BIN"), W(L"over.bin"));
  EXPECT_EQ(m.Read(L"over.bin"), big);
  EXPECT_EQ(Mode(H(L"over.bin")), 0751u);
  // Text is read 64 KiB at a time: characters cut by the end of a block, and
  // a sequence that breaks off there, decode as in the whole text.
  std::string bytes = "\xEF\xBB\xBF";
  auto at = [&bytes](std::size_t offset, const char* piece) { bytes.append(offset - bytes.size(), 'a') += piece; };
  at(65536 - 1, "\xE2\x82\xAC");
  at(2 * 65536 - 2, "\xF0\x9F\x98\x80");
  at(3 * 65536 - 1, "\xC3\xA9");
  at(4 * 65536 - 2, "\xE2\x82z\xFF");
  at(5 * 65536 - 3, "\xF0\x9F\x98\x80\n");
  m.Write(L"big.vsl", bytes);
  EXPECT_EQ(fs.ReadTextFile(W(L"big.vsl")), text::FromUtf8(std::string_view(bytes).substr(3)));
  m.Write(L"cut.vsl", "ab\xE2\x82");
  EXPECT_EQ(fs.ReadTextFile(W(L"cut.vsl")), L"ab\uFFFD\uFFFD");
  m.Write(L"bom.vsl", "\xEF\xBB");
  EXPECT_EQ(fs.ReadTextFile(W(L"bom.vsl")), L"\uFFFD\uFFFD");
}

TEST_F(PosixFs, ClimbsBackOutOfALinkToWhereItCameFrom) {
  // Deep enough that the directories above the link are let go on the way down.
  std::string top = H(L"top"), target = H(L"elsewhere/target");
  for (int i = 0; i < 100; ++i) top += "/d", target += "/d";
  sfs::create_directories(top);
  sfs::create_directories(target);
  sfs::create_directory_symlink(H(L"elsewhere/target"), top.substr(0, H(L"top").size() + 100) + "/link");
  rlimit saved{}, lower{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  lower = saved;
  lower.rlim_cur = 80;
  ::setrlimit(RLIMIT_NOFILE, &lower);
  fs.ChangeDir(W(L"top"));
  for (int i = 0; i < 50; ++i) fs.ChangeDir(L"d");
  fs.ChangeDir(L"link");
  for (int i = 0; i < 100; ++i) fs.ChangeDir(L"d");
  for (int i = 0; i < 101; ++i) fs.ChangeDir(L"..");
  EXPECT_EQ(InOrder(fs.Find(L"*")), (V{L".", L"..", L"d", L"link"}));
  for (int i = 0; i < 50; ++i) fs.ChangeDir(L"..");
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(fs.CurrentDir(), W(L"top"));
}

TEST_F(PosixFs, WhatAListingFoundFollowsLaterChanges) {
  m.Write(L"d/f.txt", "f");
  m.Write(L"d/g.txt", "g");
  fs.ChangeDir(W(L"d"));
  ASSERT_EQ(fs.Find(L"*").size(), 4u);
  m.Write(L"d/h.txt", "h");
  EXPECT_EQ(InOrder(fs.Find(L"*.txt")), (V{L"f.txt", L"g.txt", L"h.txt"}));
  fs.SetAttributes(L"f.txt", kAttrReadOnly);
  EXPECT_EQ(Raised([&] { fs.CopyWholeFile(L"g.txt", L"f.txt"); }),
            L"Cannot copy " + W(L"d\\g.txt") + L" to " + W(L"d\\f.txt") + L": the target is read-only");
  fs.SetAttributes(L"f.txt", 0);
  fs.RemoveFile(L"f.txt");
  EXPECT_EQ(Raised([&] { fs.RemoveFile(L"f.txt"); }), L"Cannot delete " + W(L"d\\f.txt") + L": no such file or directory");
  EXPECT_EQ(fs.GetAttributes(L"f.txt"), kInvalidAttributes);
  // A directory removed and made again is the new one: the current directory is a path.
  for (const wchar_t* f : {L"g.txt", L"h.txt"}) fs.RemoveFile(f);
  fs.RemoveDir(W(L"d"));
  fs.CreateDir(W(L"d"));
  fs.Open(L"new.txt", OpenMode::Write)->Write("n");
  EXPECT_EQ(m.Read(L"d/new.txt"), "n");
  // One replaced behind its back is seen after Forget.
  sfs::rename(H(L"d"), H(L"moved"));
  m.Write(L"d/fresh.txt", "");
  fs.Forget();
  EXPECT_EQ(InOrder(fs.Find(L"*")), (V{L".", L"..", L"fresh.txt"}));
}

TEST_F(PosixFs, TheSystemAnswersInDriveFormAndNeverTakesAnExistingTemporaryName) {
  char arg0[] = "vsl", arg1[] = "my", arg2[] = "script\xC3\xA9.vsl";
  char* argv[] = {arg0, arg1, arg2, nullptr};
  posix::PosixSystem sys(fs, 3, argv);
  EXPECT_EQ(sys.CommandLineText(), L"my script\u00e9.vsl");
  EXPECT_EQ(sys.Arguments(), (V{L"my", L"script\u00e9.vsl"}));
  EXPECT_EQ(sys.WindowsDir(), L"C:\\windows");
  EXPECT_TRUE(sys.IsWindowsNT());
  sfs::remove(prefix + "/drive_c/windows/system32");  // the prefix is made sure of once
  EXPECT_EQ(sys.WindowsDir(), L"C:\\windows");
  EXPECT_FALSE(sfs::exists(prefix + "/drive_c/windows/system32"));
  const std::string tmpHost = std::getenv("TMPDIR");
  const std::wstring tmp = fs.DriveFormOf(tmpHost) + L"\\";
  EXPECT_EQ(sys.TempDir(), tmp);
  // Occupy the next names, in lower case, and see that none is handed out.
  const std::wstring first = sys.MakeTempFile(tmp, L"DSK");
  const unsigned start = std::stoul(text::ToUtf8(first.substr(tmp.size() + 3, first.size() - tmp.size() - 7)), nullptr, 16);
  std::set<std::wstring> taken{text::Fold(first)};
  for (unsigned n = start + 1; n < start + 200; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "dsk%x.tmp", n & 0xFFFF);
    std::fclose(std::fopen((tmpHost + "/" + name).c_str(), "w"));
    taken.insert(text::Fold(tmp + text::FromUtf8(name)));
  }
  const std::wstring next = sys.MakeTempFile(tmp, L"DSK");
  EXPECT_EQ(taken.count(text::Fold(next)), 0u) << text::ToUtf8(next);
  EXPECT_LE(next.size(), tmp.size() + 3 + 4 + 4);  // at most four hex digits
  m.SetEnv("TMPDIR", "");
  EXPECT_EQ(sys.TempDir(), L"Z:\\tmp\\");
}

}  // namespace
