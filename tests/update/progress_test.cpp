// The progress bar's position: floor of the share done, in 64 bits, capped at 100.
#include <gtest/gtest.h>

#include "update/progress.h"

TEST(ProgressPercent, RoundsDownAndNeverOverflowsOrPassesTheTop) {
  EXPECT_EQ(ProgressPercent(0, 1000), 0);
  EXPECT_EQ(ProgressPercent(46, 1000), 4);
  EXPECT_EQ(ProgressPercent(999, 1000), 99);  // not rounded up to 100
  EXPECT_EQ(ProgressPercent(1000, 1000), 100);
  EXPECT_EQ(ProgressPercent(128, 100), 100);  // a last chunk may run past the image
  EXPECT_EQ(ProgressPercent(200000000, 100000000), 100);
  // Products far beyond 32 bits.
  EXPECT_EQ(ProgressPercent(4000000000u, 4294967295u), 93);
  EXPECT_EQ(ProgressPercent(42949673, 42949673u * 2), 50);
  EXPECT_EQ(ProgressPercent(4294967295u, 4294967295u), 100);
  EXPECT_EQ(ProgressPercent(4294967294u, 4294967295u), 99);
  EXPECT_EQ(ProgressPercent(0xFFFFFFFFu, 1), 100);
  EXPECT_EQ(ProgressPercent(1, 0xFFFFFFFFu), 0);
  // No image: nothing done, and no division by zero.
  EXPECT_EQ(ProgressPercent(0, 0), 0);
  EXPECT_EQ(ProgressPercent(500, 0), 0);
}
