// SPDX-License-Identifier: GPL-2.0-or-later
// FAT dates and times as FILETIME values, as stored (no time-zone shift).
#include <gtest/gtest.h>

#include "platform/fat/DosTime.h"

namespace quillo::test {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kUnixEpoch = 11644473600;

uint16_t Date(int year, int month, int day) { return uint16_t(((year - 1980) << 9) | (month << 5) | day); }
uint16_t Time(int hour, int minute, int second) {
  return uint16_t((hour << 11) | (minute << 5) | (second / 2));
}
uint64_t FromUnix(uint64_t seconds) { return (seconds + kUnixEpoch) * kTicksPerSecond; }

TEST(FatDosTime, ConvertsValidDatesAndRefusesOthers) {
  struct Case {
    const char* What;
    uint16_t DateValue;
    uint16_t TimeValue;
    uint64_t Expected;
  };
  const Case cases[] = {
      {"the first FAT date", Date(1980, 1, 1), 0, FromUnix(315532800)},
      {"a leap day with the last two-second step", Date(2024, 2, 29), Time(23, 59, 58),
       FromUnix(1709251198)},
      {"the last FAT year", Date(2107, 12, 31), Time(12, 0, 0), FromUnix(4354776000)},
      {"an unset date", 0, Time(10, 0, 0), 0},
      {"February 29 of a common year", Date(2023, 2, 29), 0, 0},
      {"month 13", uint16_t(Date(2023, 1, 1) + (12 << 5)), 0, 0},
      {"hour 24", Date(2023, 1, 1), Time(24, 0, 0), 0},
      {"minute 60", Date(2023, 1, 1), Time(1, 60, 0), 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fat::DosDateTimeToFileTime(c.DateValue, c.TimeValue), c.Expected) << c.What;
}

} // namespace
} // namespace quillo::test
