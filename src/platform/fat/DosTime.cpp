// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/DosTime.h"

namespace quillo::fat {

namespace {

constexpr int kDosEpochYear = 1980;
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
  unsigned day = date & 0x1F;
  unsigned month = (date >> 5) & 0x0F;
  int year = kDosEpochYear + (date >> 9);
  unsigned seconds = (time & 0x1F) * 2;
  unsigned minutes = (time >> 5) & 0x3F;
  unsigned hours = time >> 11;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return 0;
  if (hours > 23 || minutes > 59 || seconds > 59) return 0;
  int64_t days = DaysFromCivil(year, month, day) + kFileTimeToUnixDays;
  uint64_t secondsTotal = uint64_t(days) * kSecondsPerDay + hours * 3600u + minutes * 60u + seconds;
  return secondsTotal * kTicksPerSecond;
}

} // namespace quillo::fat
