// The install log's clock: UTC with milliseconds, finer ticks cut off.
#include <gtest/gtest.h>

#include <chrono>

#include "driver/InstallLog.h"

using namespace std::chrono;

TEST(InstallLog, TimeIsUtcWithMilliseconds) {
  const struct { system_clock::time_point t; const char* text; } cases[] = {
      {sys_days{1970y / 1 / 1}, "1970-01-01T00:00:00.000Z"},
      {sys_days{2026y / 12 / 5} + 21h + 4min + 5s + 123ms, "2026-12-05T21:04:05.123Z"},
      {sys_days{2024y / 2 / 29} + 23h + 59min + 59s + 999ms, "2024-02-29T23:59:59.999Z"},
      {sys_days{2000y / 3 / 1} + 7ms, "2000-03-01T00:00:00.007Z"},
      {sys_days{2026y / 1 / 1} + 999999us, "2026-01-01T00:00:00.999Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(InstallLog::FormatTime(c.t), c.text);
}
