// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "settings/ExcludeSizeSteps.h"

namespace quillo {
namespace {

TEST(ExcludeSizeStepsTest, EveryPositionHasItsSizeTextAndStoredValue) {
  struct Step {
    const char* Text;
    int32_t Kilobytes;
    int64_t EngineBytes;
  };
  const Step steps[] = {
      {"100MB", 102400, 104857600LL},     {"200MB", 204800, 209715200LL},
      {"500MB", 512000, 524288000LL},     {"1GB", 1048576, 1073741824LL},
      {"2GB", 2097152, 2147483648LL},     {"5GB", 5242880, 5368709120LL},
      {"10GB", 10485760, 10737418240LL},
  };
  ASSERT_EQ(std::size(steps), ExcludeSizeSteps.size());
  for (int p = 0; p < int(std::size(steps)); ++p) {
    EXPECT_EQ(FormatMegabytes(ExcludeSizeSteps[size_t(p)]), steps[p].Text);
    EXPECT_EQ(ExcludeSizeAt(p), steps[p].Kilobytes);
    EXPECT_EQ(ExcludeSizePosition(steps[p].Kilobytes), p);
    EXPECT_EQ(EngineSizeLimit(true, steps[p].Kilobytes), steps[p].EngineBytes);
    EXPECT_EQ(EngineSizeLimit(false, steps[p].Kilobytes), 0);
  }
}

TEST(ExcludeSizeStepsTest, SizesBetweenStepsAndOutsideTheTable) {
  EXPECT_EQ(FormatMegabytes(1023), "1023MB");
  EXPECT_EQ(FormatMegabytes(1536), "1GB");
  // 3000 kilobytes is no step; the engine still takes it as it is.
  EXPECT_EQ(ExcludeSizePosition(3000), -1);
  EXPECT_EQ(EngineSizeLimit(true, 3000), 3072000);
  // Integer division: a few kilobytes more still find the step.
  EXPECT_EQ(ExcludeSizePosition(1048576 + 1023), 3);
  EXPECT_EQ(ExcludeSizeAt(-1), 102400);
  EXPECT_EQ(ExcludeSizeAt(9), 10485760);
  // Nothing or less is no limit, not a limit every file is above.
  EXPECT_EQ(EngineSizeLimit(true, 0), 0);
  EXPECT_EQ(EngineSizeLimit(true, -5), 0);
}

} // namespace
} // namespace quillo
