// SPDX-License-Identifier: GPL-2.0-or-later
// Conversions between FILETIME values (100 ns units since 1601-01-01), calendar
// dates and date-times (days since 1899-12-30).
#pragma once

#include <cstdint>

#include "engine/DefragDefine.h"

namespace quillo {

struct CalendarTime {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

constexpr uint64_t kFileTimeTicksPerDay = 864000000000ULL;
// Days from 1601-01-01 to 1899-12-30.
constexpr int64_t kFileTimeEpochToDateTimeEpochDays = 109205;

// As FileTimeToSystemTime: fails for values with the top bit set.
bool FileTimeToCalendar(uint64_t fileTime, CalendarTime& out);
// As EncodeDateTime: fails outside the years 1 to 9999 or for invalid fields.
bool TryEncodeDateTime(const CalendarTime& time, TDateTime& out);
// The inverse, for building volumes in tests and fixtures.
uint64_t DateTimeToFileTime(TDateTime value);

} // namespace quillo
