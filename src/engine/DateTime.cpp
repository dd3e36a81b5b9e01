// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/DateTime.h"

#include <cmath>

namespace quillo {

namespace {

constexpr uint64_t kTicksPerMillisecond = 10000;
constexpr uint64_t kMillisecondsPerDay = 86400000;
constexpr uint64_t kFileTimeLimit = 0x8000000000000000ULL;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 0001-01-01 of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int year, int month, int day) {
  int64_t y = year - 1;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day - 1;
}

// Days from 0001-01-01 to 1601-01-01 and to 1899-12-30.
const int64_t kDaysTo1601 = DaysFromCivil(1601, 1, 1);
const int64_t kDaysTo1899 = DaysFromCivil(1899, 12, 30);

} // namespace

bool FileTimeToCalendar(uint64_t fileTime, CalendarTime& out) {
  if (fileTime >= kFileTimeLimit) return false;
  uint64_t totalMs = fileTime / kTicksPerMillisecond;
  int64_t days = int64_t(totalMs / kMillisecondsPerDay) + kDaysTo1601;
  uint64_t msOfDay = totalMs % kMillisecondsPerDay;

  int year = 1 + int(days / 146097) * 400;
  days %= 146097;
  while (true) {
    int length = IsLeapYear(year) ? 366 : 365;
    if (days < length) break;
    days -= length;
    ++year;
  }
  int month = 1;
  while (days >= DaysInMonth(year, month)) {
    days -= DaysInMonth(year, month);
    ++month;
  }
  out.Year = year;
  out.Month = month;
  out.Day = int(days) + 1;
  out.Hour = int(msOfDay / 3600000);
  out.Minute = int(msOfDay / 60000 % 60);
  out.Second = int(msOfDay / 1000 % 60);
  out.Millisecond = int(msOfDay % 1000);
  return true;
}

bool TryEncodeDateTime(const CalendarTime& t, TDateTime& out) {
  if (t.Year < 1 || t.Year > 9999 || t.Month < 1 || t.Month > 12) return false;
  if (t.Day < 1 || t.Day > DaysInMonth(t.Year, t.Month)) return false;
  if (t.Hour < 0 || t.Hour > 23 || t.Minute < 0 || t.Minute > 59 || t.Second < 0 ||
      t.Second > 59 || t.Millisecond < 0 || t.Millisecond > 999)
    return false;
  double days = double(DaysFromCivil(t.Year, t.Month, t.Day) - kDaysTo1899);
  double fraction =
      (t.Hour * 3600000.0 + t.Minute * 60000.0 + t.Second * 1000.0 + t.Millisecond) /
      double(kMillisecondsPerDay);
  // Before 1899-12-30 the fraction counts away from zero, as the date-time
  // format defines it.
  out = days >= 0 ? days + fraction : days - fraction;
  return true;
}

uint64_t DateTimeToFileTime(TDateTime value) {
  double whole = std::trunc(value);
  double fraction = std::fabs(value - whole);
  double days = whole + double(kFileTimeEpochToDateTimeEpochDays);
  double ticks = days * double(kFileTimeTicksPerDay) + fraction * double(kFileTimeTicksPerDay);
  if (ticks <= 0) return 0;
  return uint64_t(std::llround(ticks / double(kTicksPerMillisecond))) * kTicksPerMillisecond;
}

} // namespace quillo
