// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/DosTime.h"

namespace quillo::fat {

namespace {

// FAT dates: day in bits 0-4, month in 5-8, years since 1980 in 9-15.
// FAT times: two-second steps in bits 0-4, minutes in 5-10, hours in 11-15.
constexpr int kDosEpochYear = 1980;
constexpr unsigned kDayMask = 0x1F;
constexpr unsigned kMonthShift = 5;
constexpr unsigned kMonthMask = 0x0F;
constexpr unsigned kYearShift = 9;
constexpr unsigned kTwoSecondsMask = 0x1F;
constexpr unsigned kSecondsPerStep = 2;
constexpr unsigned kMinuteShift = 5;
constexpr unsigned kMinuteMask = 0x3F;
constexpr unsigned kHourShift = 11;
constexpr unsigned kMonthsPerYear = 12;
constexpr unsigned kMaxHour = 23;
constexpr unsigned kMaxMinuteOrSecond = 59;
constexpr uint64_t kSecondsPerHour = 3600;
constexpr uint64_t kSecondsPerMinute = 60;
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kFileTimeToUnixDays = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = unsigned(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + int64_t(dayOfEra) - 719468;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(int year, unsigned month) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

} // namespace

uint64_t DosDateTimeToFileTime(uint16_t date, uint16_t time) {
  unsigned day = date & kDayMask;
  unsigned month = (date >> kMonthShift) & kMonthMask;
  int year = kDosEpochYear + (date >> kYearShift);
  unsigned seconds = (time & kTwoSecondsMask) * kSecondsPerStep;
  unsigned minutes = (time >> kMinuteShift) & kMinuteMask;
  unsigned hours = time >> kHourShift;
  if (month < 1 || month > kMonthsPerYear || day < 1 || day > DaysInMonth(year, month)) return 0;
  if (hours > kMaxHour || minutes > kMaxMinuteOrSecond || seconds > kMaxMinuteOrSecond) return 0;
  int64_t days = DaysFromCivil(year, month, day) + kFileTimeToUnixDays;
  uint64_t secondsTotal = uint64_t(days) * kSecondsPerDay + hours * kSecondsPerHour +
                          minutes * kSecondsPerMinute + seconds;
  return secondsTotal * kTicksPerSecond;
}

} // namespace quillo::fat
