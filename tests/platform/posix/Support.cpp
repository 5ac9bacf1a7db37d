// The POSIX support pieces: reasons from errno, descriptors closed once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/Support.h"

TEST(PosixSupport, ReasonsStartInLowerCaseOnlyAfterAnOrdinaryWordAndDescriptorsCloseOnce) {
  // Reason(errno) and a lower-cased first word: tests/scripts/process/run_{missing,nodrive}.vsl.
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {{L"I/O error", L"I/O error"},
      {L"PATH is not set", L"PATH is not set"}, {L"A", L"A"}, {L"", L""}};
  for (auto [in, out] : cases) EXPECT_EQ(posix::AsReason(in), out);
  const int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC), again = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  {
    posix::Fd fd(raw), other(again);
    EXPECT_EQ((std::tuple{fd.Valid(), fd.Close(), fd.Valid(), fd.Close(), ::fcntl(raw, F_GETFD)}),
              (std::tuple{true, 0, false, 0, -1}));
  }
  EXPECT_EQ(::fcntl(again, F_GETFD), -1);  // closed when it ends
  EXPECT_FALSE(posix::Fd().Valid());
}
