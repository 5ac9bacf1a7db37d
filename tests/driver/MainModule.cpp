// The driver's own computations.
#include <gtest/gtest.h>

#include "driver/MainModule.h"

// The status dialog is centred 200 twips above the middle; halves round to even, below zero too.
TEST(MainModule, StatusPosition) {
  const struct { double w, h, dw, dh; std::int32_t left, top; } cases[] = {
      {19200, 14400, 4800, 1800, 7200, 6100}, {1001, 1401, 0, 0, 500, 500}, {1003, 1403, 0, 0, 502, 502},
      {0, 401, 1001, 0, -500, 0}, {0, 403, 1003, 0, -502, 2}, {0, 0, 1002.6, 0.2, -501, -200},
      {0, 0, 1001.2, 1.2, -501, -201}};
  for (const auto& c : cases) {
    const FormPosition at = MainModule::StatusPosition(c.w, c.h, c.dw, c.dh);
    EXPECT_EQ(at.left, c.left) << c.w;
    EXPECT_EQ(at.top, c.top) << c.w;
  }
}
