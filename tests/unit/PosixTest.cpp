#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/Support.h"

namespace {

TEST(PosixReason, LowersOnlyAnOrdinaryFirstWord) {
  EXPECT_EQ(posix::Reason(ENOENT), L"no such file or directory");
  EXPECT_EQ(posix::Reason(EACCES), L"permission denied");
  EXPECT_EQ(posix::AsReason(L"I/O error"), L"I/O error");
  EXPECT_EQ(posix::AsReason(L"PATH is not set"), L"PATH is not set");
  EXPECT_EQ(posix::AsReason(L"The drive Q: does not exist"), L"the drive Q: does not exist");
  EXPECT_EQ(posix::AsReason(L"A"), L"A");
  EXPECT_EQ(posix::AsReason(L""), L"");
}

TEST(PosixFd, ClosesItsDescriptorOnce) {
  int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  {
    posix::Fd fd(raw);
    EXPECT_TRUE(fd.Valid());
    EXPECT_EQ(fd.Close(), 0);
    EXPECT_FALSE(fd.Valid());
    EXPECT_EQ(fd.Close(), 0) << "a second close does nothing";
  }
  EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
  {
    int again = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(again, 0);
    { posix::Fd fd(again); }
    EXPECT_EQ(::fcntl(again, F_GETFD), -1) << "the destructor closes";
  }
  EXPECT_FALSE(posix::Fd().Valid());
}

}  // namespace
