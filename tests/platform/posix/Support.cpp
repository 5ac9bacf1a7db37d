// The POSIX support pieces: reasons from errno, descriptors closed once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/Support.h"

namespace {

TEST(PosixSupport, ReasonsStartInLowerCaseOnlyAfterAnOrdinaryWord) {
  EXPECT_EQ(posix::Reason(ENOENT), L"no such file or directory");
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"I/O error", L"I/O error"}, {L"PATH is not set", L"PATH is not set"},
      {L"The drive Q: does not exist", L"the drive Q: does not exist"}, {L"A", L"A"}, {L"", L""}};
  for (auto [in, out] : cases) EXPECT_EQ(posix::AsReason(in), out);
}

TEST(PosixSupport, ADescriptorIsClosedOnce) {
  const int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  {
    posix::Fd fd(raw);
    EXPECT_TRUE(fd.Valid());
    EXPECT_EQ(fd.Close(), 0);
    EXPECT_FALSE(fd.Valid());
    EXPECT_EQ(fd.Close(), 0);
  }
  EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
  const int again = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  { posix::Fd fd(again); }
  EXPECT_EQ(::fcntl(again, F_GETFD), -1);
  EXPECT_FALSE(posix::Fd().Valid());
}

}  // namespace
