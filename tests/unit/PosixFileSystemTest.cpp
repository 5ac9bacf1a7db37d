#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "PosixFsFixture.h"

using platform::OpenMode;

using PosixPaths = PosixFsFixture;

TEST_F(PosixPaths, StartsOnZWithTheProcessDirectory) {
  char* cwd = ::getcwd(nullptr, 0);
  std::string here = cwd;
  std::free(cwd);
  EXPECT_EQ(fs_->CurrentDir(), here == "/" ? L"Z:\\" : Z(here));
}

TEST_F(PosixPaths, ResolvesEveryFormOfPath) {
  MakeFile("a/b.txt");
  ASSERT_NO_THROW(fs_->ChangeDir(W("a")));
  EXPECT_EQ(fs_->HostPath(L"b.txt"), H("a/b.txt"));
  EXPECT_EQ(fs_->HostPath(L".\\b.txt"), H("a/b.txt"));
  EXPECT_EQ(fs_->HostPath(L"..\\a/./b.txt"), H("a/b.txt"));
  EXPECT_EQ(fs_->HostPath(W("a") + L"\\\\b.txt"), H("a/b.txt"));
  EXPECT_EQ(fs_->HostPath(L"/etc/hosts"), "/etc/hosts");
  EXPECT_EQ(fs_->HostPath(L"\\etc\\hosts"), "/etc/hosts");
  EXPECT_EQ(fs_->HostPath(L"Z:\\..\\..\\etc"), "/etc");
  EXPECT_EQ(fs_->FullPath(L"Z:\\"), L"Z:\\");
  EXPECT_EQ(fs_->CurrentDir(), W("a"));
  // "C:x" is relative to C:'s own current directory, its root at first.
  std::string driveC = std::filesystem::canonical(prefix_ + "/drive_c").string();
  EXPECT_EQ(fs_->HostPath(L"C:windows"), driveC + "/windows");
  fs_->ChangeDir(L"C:\\windows");
  EXPECT_EQ(fs_->HostPath(L"c:system32"), driveC + "/windows/system32");
  EXPECT_EQ(fs_->CurrentDir(), W("a"));  // the current drive stayed Z:
}

TEST_F(PosixPaths, FallsBackToACaseInsensitiveMatch) {
  MakeFile("Data/Readme.TXT", "r");
  EXPECT_EQ(fs_->HostPath(W("DATA\\readme.txt")), H("Data/Readme.TXT"));
  EXPECT_EQ(fs_->FullPath(W("data\\README.txt")), W("Data\\Readme.TXT"));
  // After a component without any match the rest stays as written.
  EXPECT_EQ(fs_->HostPath(W("DATA\\Missing\\Sub")), H("Data/Missing/Sub"));
  // Several spellings: the first in name order wins; an exact one is kept.
  MakeFile("two/abc");
  MakeFile("two/ABC");
  EXPECT_EQ(fs_->HostPath(W("two\\Abc")), H("two/ABC"));
  EXPECT_EQ(fs_->HostPath(W("two\\abc")), H("two/abc"));
  EXPECT_EQ(fs_->GetAttributes(W("DATA\\README.TXT")), platform::kAttrArchive);
}

TEST_F(PosixPaths, SeesNamesCreatedBehindItsBack) {
  MakeDir("d");
  EXPECT_EQ(fs_->HostPath(W("d\\NEW.txt")), H("d/NEW.txt"));  // reads the directory
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  MakeFile("d/new.TXT");
  EXPECT_EQ(fs_->HostPath(W("d\\NEW.txt")), H("d/new.TXT"));
  // Names it creates itself are known at once.
  fs_->CreateDir(W("d\\Made"));
  EXPECT_EQ(fs_->HostPath(W("d\\MADE")), H("d/Made"));
  fs_->CopyWholeFile(W("d\\new.TXT"), W("d\\Copy.Txt"));
  EXPECT_EQ(fs_->HostPath(W("d\\copy.txt")), H("d/Copy.Txt"));
  fs_->RemoveFile(W("d\\COPY.TXT"));
  EXPECT_FALSE(Exists("d/Copy.Txt"));
  EXPECT_EQ(fs_->HostPath(W("d\\copy.txt")), H("d/copy.txt"));
}

TEST_F(PosixPaths, CreatesThePrefixOnFirstUseAndKeepsExistingLinks) {
  std::filesystem::create_directories(prefix_ + "/dosdevices");
  MakeDir("otherc");
  std::filesystem::create_directory_symlink(H("otherc"), prefix_ + "/dosdevices/c:");
  EXPECT_EQ(fs_->HostPath(L"C:\\x"), H("otherc") + "/x");
  EXPECT_EQ(std::filesystem::read_symlink(prefix_ + "/dosdevices/z:"), "/");
  EXPECT_EQ(std::filesystem::read_symlink(prefix_ + "/dosdevices/c:"), H("otherc"));
  EXPECT_TRUE(std::filesystem::is_directory(prefix_ + "/drive_c/windows/system32"));
}

TEST_F(PosixPaths, MapsDrivesThroughDosdevices) {
  MakeDir("ddrive/sub/deeper");
  MapDrive('d', H("ddrive"));
  // Every drive keeps its own current directory.
  fs_->ChangeDir(W());
  fs_->ChangeDir(L"D:\\sub");
  EXPECT_EQ(fs_->CurrentDir(), W());
  fs_->ChangeDrive(L"d:");
  EXPECT_EQ(fs_->CurrentDir(), L"D:\\sub");
  fs_->ChangeDir(L"deeper");
  EXPECT_EQ(fs_->CurrentDir(), L"D:\\sub\\deeper");
  fs_->ChangeDir(L"..");
  fs_->ChangeDir(L"..");
  EXPECT_EQ(fs_->CurrentDir(), L"D:\\");
  fs_->ChangeDir(L"..");  // no higher than the root
  EXPECT_EQ(fs_->CurrentDir(), L"D:\\");
  fs_->ChangeDrive(L"Z");
  EXPECT_EQ(fs_->CurrentDir(), W());
  EXPECT_EQ(fs_->HostPath(L"D:sub"), std::filesystem::canonical(H("ddrive/sub")).string());

  // The drive form of a host path names the drive with the longest target.
  EXPECT_EQ(fs_->DriveFormOf(H("ddrive/sub")), L"D:\\sub");
  EXPECT_EQ(fs_->DriveFormOf(H("ddrive")), L"D:\\");
  EXPECT_EQ(fs_->DriveFormOf(H("elsewhere")), W("elsewhere"));

  // A drive added or removed later is seen.
  MakeDir("edrive/x");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // a new time stamp on dosdevices
  MapDrive('e', H("edrive"));
  EXPECT_EQ(fs_->DriveFormOf(H("edrive/x")), L"E:\\x");
  std::filesystem::remove(prefix_ + "/dosdevices/e:");
  EXPECT_EQ(fs_->DriveFormOf(H("edrive/x")), W("edrive\\x"));
  EXPECT_EQ(fs_->DriveFormOf(H("ddrive")), L"D:\\");
}

TEST_F(PosixPaths, RefusesDrivesThatDoNotExist) {
  EXPECT_EQ(Message([&] { fs_->ChangeDrive(L"Q:"); }), L"The drive Q: does not exist");
  EXPECT_NE(Message([&] { fs_->ChangeDrive(L"\\x"); }), L"<nothing raised>");
  EXPECT_NE(Message([&] { fs_->Find(L"Q:\\*"); }).find(L"Q:"), std::wstring::npos);
  EXPECT_NE(Message([&] { fs_->HostPath(L"q:x"); }).find(L"Q:"), std::wstring::npos);
  EXPECT_NO_THROW(fs_->ChangeDrive(L""));
  EXPECT_NE(Message([&] { fs_->ChangeDir(W("none")); }).find(W("none")), std::wstring::npos);
  MakeFile("f");
  EXPECT_EQ(Message([&] { fs_->ChangeDir(W("f")); }), L"Cannot change the directory to " + W("f") + L": not a directory");
}

using PosixAttributes = PosixFsFixture;

TEST_F(PosixAttributes, ReportsDirectoryReadOnlyAndHidden) {
  MakeFile("plain");
  MakeFile(".hidden");
  MakeFile("ro");
  MakeDir("dir");
  ::chmod(H("ro").c_str(), 0444);
  EXPECT_EQ(fs_->GetAttributes(W("plain")), platform::kAttrArchive);
  EXPECT_EQ(fs_->GetAttributes(W(".hidden")), platform::kAttrArchive | platform::kAttrHidden);
  EXPECT_EQ(fs_->GetAttributes(W("ro")), platform::kAttrArchive | platform::kAttrReadOnly);
  EXPECT_EQ(fs_->GetAttributes(W("dir")), platform::kAttrDirectory);
  EXPECT_EQ(fs_->GetAttributes(W("none")), platform::kInvalidAttributes);
  EXPECT_EQ(fs_->GetAttributes(L"Z:\\"), platform::kAttrDirectory);

  fs_->SetAttributes(W("ro"), 0);
  EXPECT_EQ(fs_->GetAttributes(W("ro")), platform::kAttrArchive);
  ::chmod(H("plain").c_str(), 0664);
  fs_->SetAttributes(W("plain"), platform::kAttrReadOnly | platform::kAttrArchive);
  struct stat st;
  ::stat(H("plain").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0464u);  // only the owner-write bit goes
  fs_->SetAttributes(W("plain"), platform::kAttrNormal);
  ::stat(H("plain").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  EXPECT_THROW(fs_->SetAttributes(W("none"), 0), VslError);
}

TEST_F(PosixAttributes, EnforcesReadOnlyEvenForRoot) {
  MakeFile("ro.txt", "keep");
  MakeFile("src.txt", "new");
  ::chmod(H("ro.txt").c_str(), 0444);
  EXPECT_EQ(Message([&] { fs_->RemoveFile(W("ro.txt")); }), L"Cannot delete " + W("ro.txt") + L": the file is read-only");
  EXPECT_EQ(Message([&] { fs_->Open(W("ro.txt"), OpenMode::Write); }),
            L"Cannot open " + W("ro.txt") + L" for writing: the file is read-only");
  EXPECT_EQ(Message([&] { fs_->Open(W("ro.txt"), OpenMode::Append); }),
            L"Cannot open " + W("ro.txt") + L" for appending: the file is read-only");
  EXPECT_NE(Message([&] { fs_->CopyWholeFile(W("src.txt"), W("ro.txt")); }).find(L"read-only"), std::wstring::npos);
  EXPECT_EQ(Message([&] { fs_->RemoveMatching(W("*.txt")); }), L"Cannot delete " + W("ro.txt") + L": the file is read-only");
  EXPECT_EQ(Read("ro.txt"), "keep");
  EXPECT_EQ(fs_->Open(W("ro.txt"), OpenMode::Read)->ReadAll(), "keep");

  // Reached through a link, the file is just as read-only; a copy replaces
  // the link instead.
  std::filesystem::create_symlink(H("ro.txt"), H("rolink"));
  std::filesystem::create_directory_symlink(work_, H("dirlink"));
  for (const std::wstring& path : {W("rolink"), W("dirlink\\ro.txt")}) {
    EXPECT_EQ(Message([&] { fs_->Open(path, OpenMode::Write); }),
              L"Cannot open " + path + L" for writing: the file is read-only");
    EXPECT_EQ(Message([&] { fs_->Open(path, OpenMode::Append); }),
              L"Cannot open " + path + L" for appending: the file is read-only");
  }
  EXPECT_EQ(Read("ro.txt"), "keep");
  fs_->CopyWholeFile(W("src.txt"), W("rolink"));
  EXPECT_FALSE(std::filesystem::is_symlink(H("rolink")));
  EXPECT_EQ(Read("rolink"), "new");
  EXPECT_EQ(Read("ro.txt"), "keep");
  // Writing through a link to a writable file works and cuts the file.
  MakeFile("w.txt", "longer text");
  std::filesystem::create_symlink(H("w.txt"), H("wlink"));
  fs_->Open(W("wlink"), OpenMode::Write)->Write("ab");
  fs_->Open(W("wlink"), OpenMode::Append)->Write("c");
  EXPECT_EQ(Read("w.txt"), "abc");
}

using PosixFind = PosixFsFixture;

TEST_F(PosixFind, ListsInCaseInsensitiveOrderWithDotsFirst) {
  MakeFile("list/b.txt");
  MakeFile("list/A.txt");
  MakeFile("list/C.dat");
  MakeFile("list/README");
  MakeFile("list/.profile");
  MakeDir("list/sub");
  auto all = fs_->Find(W("list\\*"));
  EXPECT_EQ(Names(all), (std::vector<std::wstring>{L".", L"..", L".profile", L"A.txt", L"b.txt", L"C.dat", L"README",
                                                   L"sub"}));
  EXPECT_EQ(all[0].attributes, platform::kAttrDirectory);
  EXPECT_EQ(all[1].attributes, platform::kAttrDirectory);
  EXPECT_EQ(all[2].attributes, platform::kAttrArchive | platform::kAttrHidden);
  EXPECT_EQ(all[7].attributes, platform::kAttrDirectory);
  EXPECT_EQ(Names(fs_->Find(W("list\\"))), Names(all));  // a trailing separator lists the directory
  EXPECT_EQ(Names(fs_->Find(W("list\\*.*"))), Names(all));  // names without a dot too
  EXPECT_EQ(Names(fs_->Find(W("list\\*.TXT"))), (std::vector<std::wstring>{L"A.txt", L"b.txt"}));
  EXPECT_EQ(Names(fs_->Find(W("LIST\\?.txt"))), (std::vector<std::wstring>{L"A.txt", L"b.txt"}));
  EXPECT_EQ(Names(fs_->Find(W("list\\r*"))), (std::vector<std::wstring>{L"README"}));
  EXPECT_EQ(Names(fs_->Find(W("list\\readme."))), (std::vector<std::wstring>{L"README"}));
  EXPECT_EQ(Names(fs_->Find(W("list\\readme"))), (std::vector<std::wstring>{L"README"}));
  EXPECT_EQ(Names(fs_->Find(W("list\\x*"))), std::vector<std::wstring>{});
  EXPECT_EQ(Names(fs_->Find(W("nodir\\*"))), std::vector<std::wstring>{});
  EXPECT_EQ(Names(fs_->Find(W("list\\nofile"))), std::vector<std::wstring>{});
  EXPECT_EQ(Names(fs_->Find(L"")), std::vector<std::wstring>{});
}

TEST_F(PosixFind, QuestionMarksMatchNothingBeforeADotOrAtTheEnd) {
  for (const char* name : {"abc.txt", "abcd.txt", "abcde.txt", "ab", "abx", "abxyz", "a.b.c", "axc"}) MakeFile(std::string("q/") + name);
  auto find = [&](const std::wstring& pattern) { return Names(fs_->Find(W("q\\") + pattern)); };
  using V = std::vector<std::wstring>;
  EXPECT_EQ(find(L"abc?.txt"), (V{L"abc.txt", L"abcd.txt"}));
  EXPECT_EQ(find(L"ABC??.TXT"), (V{L"abc.txt", L"abcd.txt", L"abcde.txt"}));
  EXPECT_EQ(find(L"ab??"), (V{L"ab", L"abx"}));
  EXPECT_EQ(find(L"a?.b?.c?"), (V{L"a.b.c"}));
  EXPECT_EQ(find(L"a?c"), (V{L"axc"}));  // not nothing inside a name
  EXPECT_EQ(find(L"*?d*"), (V{L"abcd.txt", L"abcde.txt"}));
  EXPECT_EQ(find(L"*X?"), (V{L"abc.txt", L"abcd.txt", L"abcde.txt", L"abx", L"axc"}));
  EXPECT_EQ(find(L"*x"), (V{L"abx"}));
  EXPECT_EQ(find(L"a*c"), (V{L"a.b.c", L"axc"}));
}

TEST_F(PosixFind, LeavesOutNamesThatAreNoPathComponent) {
  // Names a script path cannot spell as one component: they would resolve
  // to another entry (the directory itself, its parent, a drive).
  for (const char* odd : {"...", ". .", "  ", "end.", "end ", "back\\slash", "c:victim", "..\\victim"})
    MakeDir(std::string("odd/") + odd);
  MakeFile("odd/plain.txt");
  MakeFile("odd/.hidden");
  EXPECT_EQ(Names(fs_->Find(W("odd\\*"))), (std::vector<std::wstring>{L".", L"..", L".hidden", L"plain.txt"}));
  EXPECT_EQ(Names(fs_->Find(W("odd\\c*"))), std::vector<std::wstring>{});
  EXPECT_EQ(Names(fs_->Find(W("odd\\c:victim"))), std::vector<std::wstring>{});
}

TEST_F(PosixFind, DotEntriesCarryTheirDirectoriesAttributes) {
  MakeDir(".cfg/empty");
  ::chmod(H(".cfg/empty").c_str(), 0555);
  auto inEmpty = fs_->Find(W(".cfg\\empty\\"));
  ASSERT_EQ(Names(inEmpty), (std::vector<std::wstring>{L".", L".."}));
  EXPECT_EQ(inEmpty[0].attributes, platform::kAttrDirectory | platform::kAttrReadOnly);
  EXPECT_EQ(inEmpty[1].attributes, platform::kAttrDirectory | platform::kAttrHidden);
  auto inCfg = fs_->Find(W(".cfg\\*"));
  EXPECT_EQ(inCfg[0].attributes, platform::kAttrDirectory | platform::kAttrHidden);
  // A drive root lists no dot entries.
  for (const auto& e : fs_->Find(L"Z:\\*")) EXPECT_TRUE(e.name != L"." && e.name != L"..");
  for (const auto& e : fs_->Find(L"C:\\")) EXPECT_TRUE(e.name != L"." && e.name != L"..");
}

using PosixLinks = PosixFsFixture;

TEST_F(PosixLinks, LinksAreFilesThatAreNeverEntered) {
  MakeFile("target/inside.txt", "in");
  MakeDir("tree");
  std::filesystem::create_directory_symlink(H("target"), H("tree/dirlink"));
  std::filesystem::create_symlink(H("gone"), H("tree/broken"));
  MakeFile("ro.txt", "ro");
  ::chmod(H("ro.txt").c_str(), 0444);
  std::filesystem::create_symlink(H("ro.txt"), H("tree/rolink"));
  auto entries = fs_->Find(W("tree\\*"));
  ASSERT_EQ(Names(entries), (std::vector<std::wstring>{L".", L"..", L"broken", L"dirlink", L"rolink"}));
  using platform::kAttrArchive, platform::kAttrDirectory, platform::kAttrReadOnly, platform::kAttrReparsePoint;
  EXPECT_EQ(entries[2].attributes, kAttrArchive | kAttrReparsePoint);
  EXPECT_EQ(entries[3].attributes, kAttrDirectory | kAttrReparsePoint);
  EXPECT_EQ(entries[4].attributes, kAttrArchive | kAttrReadOnly | kAttrReparsePoint);
  EXPECT_EQ(fs_->GetAttributes(W("tree\\DIRLINK")), kAttrDirectory | kAttrReparsePoint);
  EXPECT_EQ(fs_->Find(W("tree\\dirlink"))[0].attributes, kAttrDirectory | kAttrReparsePoint);
  EXPECT_EQ(fs_->GetAttributes(W("tree\\broken")), kAttrArchive | kAttrReparsePoint);
  // Paths through a link to a directory reach into it.
  fs_->CreateDir(W("tree\\dirlink\\made"));
  EXPECT_TRUE(std::filesystem::is_directory(H("target/made")));
  EXPECT_EQ(fs_->GetAttributes(W("tree\\dirlink\\inside.txt")), kAttrArchive);
  fs_->RemoveDir(W("tree\\dirlink\\made"));

  MakeDir("copy");
  fs_->CopyWholeFile(W("tree\\dirlink"), W("copy\\dirlink"));
  fs_->CopyWholeFile(W("tree\\broken"), W("copy\\broken"));
  EXPECT_EQ(std::filesystem::read_symlink(H("copy/dirlink")), H("target"));
  EXPECT_EQ(std::filesystem::read_symlink(H("copy/broken")), H("gone"));

  // A link is deleted as a link, whatever it points to.
  fs_->RemoveFile(W("tree\\dirlink"));
  fs_->RemoveFile(W("tree\\broken"));
  fs_->RemoveFile(W("tree\\rolink"));
  EXPECT_FALSE(Exists("tree/dirlink"));
  EXPECT_FALSE(Exists("tree/rolink"));
  EXPECT_EQ(Read("ro.txt"), "ro");
  EXPECT_EQ(Read("target/inside.txt"), "in");
}

TEST_F(PosixLinks, CopyReplacesALinkAtTheTargetInsteadOfWritingThroughIt) {
  MakeFile("outside.txt", "precious");
  MakeFile("src.txt", "data");
  std::filesystem::create_symlink(H("outside.txt"), H("dst.txt"));
  fs_->CopyWholeFile(W("src.txt"), W("dst.txt"));
  EXPECT_FALSE(std::filesystem::is_symlink(H("dst.txt")));
  EXPECT_EQ(Read("dst.txt"), "data");
  EXPECT_EQ(Read("outside.txt"), "precious");
}

using PosixFiles = PosixFsFixture;

TEST_F(PosixFiles, CopiesContentAndMode) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 % 251);
  MakeFile("big.bin", big);
  ::chmod(H("big.bin").c_str(), 0751);
  MakeFile("over.bin", "old content that is longer than nothing");
  fs_->CopyWholeFile(W("BIG.BIN"), W("over.bin"));
  fs_->CopyWholeFile(W("big.bin"), W("new.bin"));
  for (const char* name : {"over.bin", "new.bin"}) {
    EXPECT_EQ(Read(name), big) << name;
    struct stat b;
    ::stat(H(name).c_str(), &b);
    EXPECT_EQ(b.st_mode & 07777, 0751u) << name;
  }
  MakeFile("ro.bin", "ro");
  ::chmod(H("ro.bin").c_str(), 0444);
  fs_->CopyWholeFile(W("ro.bin"), W("ro-copy.bin"));
  EXPECT_EQ(fs_->GetAttributes(W("ro-copy.bin")) & platform::kAttrReadOnly, platform::kAttrReadOnly);
}

TEST_F(PosixFiles, CopyFailuresNameThePaths) {
  MakeFile("a.txt");
  EXPECT_EQ(Message([&] { fs_->CopyWholeFile(W("none.txt"), W("b.txt")); }),
            L"Cannot copy " + W("none.txt") + L" to " + W("b.txt") + L": no such file or directory");
  MakeFile("same.txt", "precious");
  EXPECT_EQ(Message([&] { fs_->CopyWholeFile(W("same.txt"), W("SAME.TXT")); }),
            L"Cannot copy " + W("same.txt") + L" to " + W("same.txt") + L": it is the same file");
  EXPECT_EQ(Read("same.txt"), "precious");
  EXPECT_EQ(Message([&] { fs_->CopyWholeFile(W("a.txt"), W("nodir\\b.txt")); }),
            L"Cannot copy " + W("a.txt") + L" to " + W("nodir\\b.txt") + L": no such file or directory");
}

TEST_F(PosixFiles, OpensForReadingWritingAndAppending) {
  {
    auto f = fs_->Open(W("log.txt"), OpenMode::Append);
    f->Write("one\n");
  }
  fs_->Open(W("LOG.txt"), OpenMode::Append)->Write("two\n");
  EXPECT_EQ(Read("log.txt"), "one\ntwo\n");
  EXPECT_EQ(fs_->Open(W("log.txt"), OpenMode::Read)->ReadAll(), "one\ntwo\n");
  fs_->Open(W("log.txt"), OpenMode::Write);
  EXPECT_EQ(Read("log.txt"), "");
  EXPECT_EQ(Message([&] { fs_->Open(W("none.txt"), OpenMode::Read); }),
            L"Cannot open " + W("none.txt") + L" for reading: no such file or directory");
  EXPECT_THROW(fs_->Open(W("nodir\\x.txt"), OpenMode::Write), VslError);
}

TEST_F(PosixFiles, TextFilesAreUtf8WithLfLineEnds) {
  fs_->AppendTextLine(W("t.txt"), L"caf\u00e9");
  fs_->AppendTextLine(W("T.TXT"), L"");
  EXPECT_EQ(Read("t.txt"), "caf\xC3\xA9\n\n");
  EXPECT_THROW(fs_->AppendTextLine(W("nodir\\x.txt"), L"x"), VslError);
  // A byte order mark is skipped; a byte that starts no sequence is U+FFFD.
  MakeFile("s.vsl", "\xEF\xBB\xBFMsgBox \"caf\xC3\xA9 \xFF\"\n");
  EXPECT_EQ(fs_->ReadTextFile(W("s.vsl")), L"MsgBox \"caf\u00e9 \uFFFD\"\n");
  EXPECT_THROW(fs_->ReadTextFile(W("none.vsl")), VslError);
}

TEST_F(PosixFiles, LargeTextFilesDecodeAsAWhole) {
  // Files are read 64 KiB at a time: characters of two, three and four bytes
  // cut by the end of a block, and a sequence that breaks off there, decode
  // as in the whole text.
  std::string bytes = "\xEF\xBB\xBF";
  auto at = [&bytes](std::size_t offset, const char* piece) {
    bytes.append(offset - bytes.size(), 'a');
    bytes += piece;
  };
  at(65536 - 1, "\xE2\x82\xAC");
  at(2 * 65536 - 2, "\xF0\x9F\x98\x80");
  at(3 * 65536 - 1, "\xC3\xA9");
  at(4 * 65536 - 2, "\xE2\x82z\xFF");
  at(5 * 65536 - 3, "\xF0\x9F\x98\x80\n");
  MakeFile("big.vsl", bytes);
  const std::wstring text = fs_->ReadTextFile(W("big.vsl"));
  EXPECT_EQ(text, text::FromUtf8(std::string_view(bytes).substr(3)));
  EXPECT_EQ(text.substr(65536 - 5, 2), L"a\u20AC");  // after the byte order mark
  // A file that ends inside a character, and one inside the byte order mark.
  MakeFile("cut.vsl", "ab\xE2\x82");
  EXPECT_EQ(fs_->ReadTextFile(W("cut.vsl")), L"ab\uFFFD\uFFFD");
  MakeFile("bom.vsl", "\xEF\xBB");
  EXPECT_EQ(fs_->ReadTextFile(W("bom.vsl")), L"\uFFFD\uFFFD");
}

TEST_F(PosixFiles, CreatesAndRemovesDirectoriesAndFiles) {
  fs_->CreateDir(W("d"));
  EXPECT_THROW(fs_->CreateDir(W("d")), VslError);
  EXPECT_THROW(fs_->CreateDir(W("x\\y")), VslError);
  MakeFile("d/f");
  EXPECT_THROW(fs_->RemoveDir(W("d")), VslError);
  EXPECT_EQ(Message([&] { fs_->RemoveFile(W("d")); }), L"Cannot delete " + W("d") + L": it is a directory");
  EXPECT_EQ(Message([&] { fs_->RemoveFile(W("d\\none")); }), L"Cannot delete " + W("d\\none") + L": no such file or directory");
  fs_->RemoveFile(W("D\\F"));
  fs_->RemoveDir(W("D"));
  EXPECT_FALSE(Exists("d"));
  EXPECT_THROW(fs_->RemoveDir(L"Z:\\"), VslError);
}

using PosixSystemTest = PosixFsFixture;

TEST_F(PosixSystemTest, AnswersPathsInDriveForm) {
  char arg0[] = "vsl", arg1[] = "my", arg2[] = "script\xC3\xA9.vsl";
  char* argv[] = {arg0, arg1, arg2, nullptr};
  posix::PosixSystem sys(*fs_, 3, argv);
  EXPECT_EQ(sys.CommandLineText(), L"my script\u00e9.vsl");
  EXPECT_EQ(sys.WindowsDir(), L"C:\\windows");
  EXPECT_TRUE(std::filesystem::is_directory(prefix_ + "/drive_c/windows/system32"));
  // The prefix is made sure of once, not on every call.
  std::filesystem::remove(prefix_ + "/drive_c/windows/system32");
  EXPECT_EQ(sys.WindowsDir(), L"C:\\windows");
  EXPECT_FALSE(std::filesystem::exists(prefix_ + "/drive_c/windows/system32"));
  EXPECT_TRUE(sys.IsWindowsNT());
  EXPECT_EQ(sys.TempDir(), Z(root_ + "/tmp") + L"\\");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(sys.TempDir(), L"Z:\\tmp\\");
}

TEST_F(PosixSystemTest, MakesFreshTemporaryFiles) {
  posix::PosixSystem sys(*fs_, 0, nullptr);
  const std::wstring dir = Z(root_ + "/tmp") + L"\\";
  std::set<std::wstring> seen;
  for (int i = 0; i < 40; ++i) {
    std::wstring path = sys.MakeTempFile(dir, L"DSK");
    ASSERT_EQ(path.compare(0, dir.size(), dir), 0) << text::ToUtf8(path);
    EXPECT_TRUE(IsTempName(path.substr(dir.size()))) << text::ToUtf8(path);
    EXPECT_TRUE(seen.insert(path).second);
    EXPECT_TRUE(std::filesystem::is_regular_file(fs_->HostPath(path)));
    EXPECT_EQ(std::filesystem::file_size(fs_->HostPath(path)), 0u);
  }
  // Without a trailing backslash the separator is added.
  std::wstring path = sys.MakeTempFile(Z(root_ + "/tmp"), L"AB");
  ASSERT_EQ(path.compare(0, dir.size(), dir), 0);
  EXPECT_TRUE(IsTempName(path.substr(dir.size()), L"AB")) << text::ToUtf8(path);
  EXPECT_THROW(sys.MakeTempFile(Z(root_ + "/nodir"), L"DSK"), VslError);
}

TEST_F(PosixSystemTest, NeverTakesAnExistingName) {
  posix::PosixSystem sys(*fs_, 0, nullptr);
  const std::wstring dir = Z(root_ + "/tmp") + L"\\";
  // Occupy the names the next calls would pick (in lower case: names are
  // found without regard to case) and see that none of them is handed out.
  std::wstring first = sys.MakeTempFile(dir, L"DSK");
  std::filesystem::remove(fs_->HostPath(first));
  unsigned start = std::stoul(text::ToUtf8(first.substr(dir.size() + 3, first.size() - dir.size() - 7)), nullptr, 16);
  std::set<std::wstring> taken;
  for (unsigned n = start + 1; n < start + 200; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "dsk%x.tmp", n & 0xFFFF);
    std::ofstream(root_ + "/tmp/" + name) << "taken";
    taken.insert(text::Fold(dir + text::FromUtf8(name)));
  }
  std::wstring next = sys.MakeTempFile(dir, L"DSK");
  EXPECT_EQ(taken.count(text::Fold(next)), 0u) << text::ToUtf8(next);
  EXPECT_EQ(std::filesystem::file_size(fs_->HostPath(next)), 0u);
}
