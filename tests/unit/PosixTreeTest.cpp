// The POSIX file system reaches paths through directories it holds open and
// keeps what its listings found: paths longer than one system call takes,
// few descriptors however deep the tree, and a view that follows changes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "PosixFsFixture.h"

using platform::OpenMode;

namespace {

// A chain of `depth` directories `name` below `top`, made one level at a
// time: its full path may be longer than one call takes.
void MakeChain(const std::string& top, int depth, const std::string& name) {
  std::filesystem::create_directories(top);
  const int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  int at = fd;
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::mkdirat(at, name.c_str(), 0755), 0);
    const int next = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0);
    ::close(at);
    at = next;
  }
  ::close(at);
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Lowers the limit of open files for the life of the object.
class FileLimit {
 public:
  explicit FileLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lower = saved_;
    lower.rlim_cur = soft;
    ::setrlimit(RLIMIT_NOFILE, &lower);
  }
  ~FileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

}  // namespace

using PosixTree = PosixFsFixture;

TEST_F(PosixTree, ReachesPathsLongerThanOneSystemCallTakes) {
  constexpr int kDepth = 300;  // 16 characters a level: about 4,800 in all
  MakeChain(H("deep"), kDepth, "directory-level");
  std::wstring path = W("deep");
  for (int i = 0; i < kDepth; ++i) path += L"\\directory-level";
  ASSERT_GT(path.size(), static_cast<std::size_t>(PATH_MAX));

  EXPECT_EQ(fs_->GetAttributes(path), platform::kAttrDirectory);
  fs_->CreateDir(path + L"\\New");
  fs_->ChangeDir(path + L"\\NEW");
  EXPECT_EQ(fs_->CurrentDir(), path + L"\\New");
  fs_->Open(L"f.txt", OpenMode::Write)->Write("at the bottom");
  EXPECT_EQ(fs_->ReadTextFile(path + L"\\new\\F.TXT"), L"at the bottom");
  EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L"..", L"f.txt"}));
  EXPECT_EQ(Message([&] { fs_->RemoveDir(path); }), L"Cannot remove the directory " + path + L": directory not empty");

  // Up again by "..", removing each level on the way as DelDir does.
  fs_->RemoveFile(L"f.txt");
  fs_->ChangeDir(L"..");
  fs_->RemoveDir(path + L"\\New");
  for (int i = 0; i < kDepth; ++i) {
    const std::wstring here = fs_->CurrentDir();
    fs_->ChangeDir(L"..");
    fs_->RemoveDir(here);
  }
  EXPECT_EQ(fs_->CurrentDir(), W("deep"));
  EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L".."}));
}

TEST_F(PosixTree, KeepsFewDescriptorsWhateverTheDepth) {
  constexpr int kDepth = 300;
  MakeChain(H("deep"), kDepth, "d");
  FileLimit limit(128);
  const int before = OpenDescriptors();
  fs_->ChangeDir(W("deep"));
  int most = 0;
  for (int i = 0; i < kDepth; ++i) {
    fs_->ChangeDir(L"d");
    most = std::max(most, OpenDescriptors());
  }
  EXPECT_EQ(fs_->CurrentDir().size(), W("deep").size() + 2 * kDepth);
  for (int i = 0; i < kDepth; ++i) {
    fs_->ChangeDir(L"..");
    most = std::max(most, OpenDescriptors());
    if (i % 100 == 0) {
      EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L"..", L"d"}));
    }
  }
  EXPECT_EQ(fs_->CurrentDir(), W("deep"));
  // Half the limit at most, beside what was open before.
  EXPECT_LE(most - before, 64 + 1);
}

TEST_F(PosixTree, ClimbsBackOutOfALinkToWhereItCameFrom) {
  // Deep enough that the directories above the link are let go on the way
  // down: climbing back must not take the link target's parent.
  MakeChain(H("top"), 100, "d");
  MakeChain(H("elsewhere/target"), 100, "d");
  std::string mid = H("top");
  for (int i = 0; i < 50; ++i) mid += "/d";
  std::filesystem::create_directory_symlink(H("elsewhere/target"), mid + "/link");
  FileLimit limit(80);
  fs_->ChangeDir(W("top"));
  for (int i = 0; i < 50; ++i) fs_->ChangeDir(L"d");
  fs_->ChangeDir(L"link");
  for (int i = 0; i < 100; ++i) fs_->ChangeDir(L"d");
  for (int i = 0; i < 101; ++i) fs_->ChangeDir(L"..");
  EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L"..", L"d", L"link"}));
  for (int i = 0; i < 50; ++i) fs_->ChangeDir(L"..");
  EXPECT_EQ(fs_->CurrentDir(), W("top"));
}

TEST_F(PosixTree, ListsADirectoryAgainWithWhatChanged) {
  MakeFile("d/a.txt");
  fs_->ChangeDir(W("d"));
  EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L"..", L"a.txt"}));
  MakeFile("d/b.txt");
  EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L"..", L"a.txt", L"b.txt"}));
  EXPECT_EQ(Names(fs_->Find(L"*.txt")), (std::vector<std::wstring>{L"a.txt", L"b.txt"}));
}

TEST_F(PosixTree, WhatAListingFoundFollowsTheCallsMadeSince) {
  MakeFile("d/f.txt", "f");
  MakeFile("d/g.txt", "g");
  fs_->ChangeDir(W("d"));
  ASSERT_EQ(fs_->Find(L"*").size(), 4u);
  // A file made read-only after the listing is refused, as is a copy over it.
  fs_->SetAttributes(L"f.txt", platform::kAttrReadOnly);
  EXPECT_EQ(Message([&] { fs_->RemoveFile(W("d\\f.txt")); }), L"Cannot delete " + W("d\\f.txt") + L": the file is read-only");
  EXPECT_EQ(Message([&] { fs_->CopyWholeFile(L"g.txt", L"f.txt"); }),
            L"Cannot copy " + W("d\\g.txt") + L" to " + W("d\\f.txt") + L": the target is read-only");
  fs_->SetAttributes(L"f.txt", 0);
  fs_->RemoveFile(L"f.txt");
  EXPECT_FALSE(Exists("d/f.txt"));
  // A file removed after the listing is missing, whatever the listing said.
  EXPECT_NE(Message([&] { fs_->RemoveFile(L"f.txt"); }), L"<nothing raised>");
  EXPECT_EQ(fs_->GetAttributes(L"f.txt"), platform::kInvalidAttributes);
}

TEST_F(PosixTree, ADirectoryRemovedAndMadeAgainIsTheNewOne) {
  MakeFile("d/old.txt");
  fs_->ChangeDir(W("d"));
  ASSERT_EQ(fs_->Find(L"*").size(), 3u);
  fs_->RemoveFile(L"old.txt");
  fs_->RemoveDir(W("d"));
  fs_->CreateDir(W("d"));
  // The current directory is the path, so it is the new directory now.
  fs_->Open(L"new.txt", OpenMode::Write)->Write("n");
  EXPECT_EQ(Read("d/new.txt"), "n");
  EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L"..", L"new.txt"}));
}

TEST_F(PosixTree, ForgetSeesADirectoryReplacedBehindItsBack) {
  MakeFile("d/old.txt");
  fs_->ChangeDir(W("d"));
  ASSERT_EQ(fs_->Find(L"*").size(), 3u);
  std::filesystem::rename(H("d"), H("moved"));
  MakeFile("d/fresh.txt");
  // What a started program or the user may do: the platform then forgets.
  fs_->Forget();
  EXPECT_EQ(Names(fs_->Find(L"*")), (std::vector<std::wstring>{L".", L"..", L"fresh.txt"}));
  EXPECT_EQ(fs_->GetAttributes(W("d\\old.txt")), platform::kInvalidAttributes);
}
