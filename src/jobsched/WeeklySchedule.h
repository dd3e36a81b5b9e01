// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace quillo::jobsched {

// When a weekly task runs: on the weekdays of Weekdays, at Hour:Minute local
// time, in every IntervalWeeks-th week counted from the week (Sunday to
// Saturday) that holds the start date, never before the start date.
struct WeeklySchedule {
  static constexpr int32_t kMinInterval = 1;
  static constexpr int32_t kMaxInterval = 52;
  // Bit 0 Sunday, bit 1 Monday, … bit 6 Saturday.
  static constexpr int32_t kAllWeekdays = 0x7F;
  static constexpr int kDaysPerWeek = 7;

  int32_t IntervalWeeks = 1;
  int32_t Weekdays = 0;
  int32_t Year = 0;
  int32_t Month = 0;
  int32_t Day = 0;
  int32_t Hour = 0;
  int32_t Minute = 0;

  bool IsValid() const;
  // Days from 1970-01-01 to the start date.
  int64_t StartDay() const;
  // "2026-12-09".
  std::string StartDateText() const;
  // The timer's OnCalendar value, for example "Mon,Fri *-*-* 22:00:00".
  std::string OnCalendar() const;
  // "At 22:00 every Monday of every week, starting 2026-12-09".
  std::string Describe() const;
  // A POSIX shell test that succeeds on the days OnCalendar fires and the
  // task should run: the start date reached and the week one of every
  // IntervalWeeks-th. Empty when every firing from `today` on (days from
  // 1970-01-01) should run.
  std::string RunCondition(int64_t today) const;

  static const char* WeekdayName(int weekday); // 0 Sunday … 6 Saturday
  // Days from 1970-01-01 to the given day of the Gregorian calendar.
  static int64_t DayNumber(int32_t year, int32_t month, int32_t day);
};

} // namespace quillo::jobsched
