// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/WeeklySchedule.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace quillo::jobsched {

namespace {

constexpr int32_t kMinYear = 1970;
constexpr int32_t kMaxYear = 9999;
constexpr int32_t kHoursPerDay = 24;
constexpr int32_t kMinutesPerHour = 60;
// 1970-01-01 was a Thursday.
constexpr int64_t kEpochWeekday = 4;

constexpr std::array<const char*, WeeklySchedule::kDaysPerWeek> kWeekdayNames = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
// systemd's calendar names, same order.
constexpr std::array<const char*, WeeklySchedule::kDaysPerWeek> kCalendarNames = {
    "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
// Listed from Monday, the order systemd writes them back in.
constexpr std::array<int, WeeklySchedule::kDaysPerWeek> kListingOrder = {1, 2, 3, 4, 5, 6, 0};

bool HasDay(int32_t mask, int weekday) {
  return (mask >> weekday) & 1;
}

std::string TwoDigits(int32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", int(value));
  return text;
}

} // namespace

bool WeeklySchedule::IsValid() const {
  if (IntervalWeeks < kMinInterval || IntervalWeeks > kMaxInterval) return false;
  if (Weekdays <= 0 || (Weekdays & ~kAllWeekdays) != 0) return false;
  if (Hour < 0 || Hour >= kHoursPerDay || Minute < 0 || Minute >= kMinutesPerHour) return false;
  if (Year < kMinYear || Year > kMaxYear || Month < 1 || Day < 1) return false;
  const std::chrono::year_month_day date{std::chrono::year(Year), std::chrono::month(unsigned(Month)),
                                         std::chrono::day(unsigned(Day))};
  return Month <= 12 && Day <= 31 && date.ok();
}

int64_t WeeklySchedule::DayNumber(int32_t year, int32_t month, int32_t day) {
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(unsigned(month)),
                                         std::chrono::day(unsigned(day))};
  return std::chrono::sys_days(date).time_since_epoch().count();
}

int64_t WeeklySchedule::StartDay() const {
  return DayNumber(Year, Month, Day);
}

std::string WeeklySchedule::StartDateText() const {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", int(Year), int(Month), int(Day));
  return text;
}

const char* WeeklySchedule::WeekdayName(int weekday) {
  return kWeekdayNames[size_t(weekday)];
}

std::string WeeklySchedule::OnCalendar() const {
  std::string days;
  for (int weekday : kListingOrder) {
    if (!HasDay(Weekdays, weekday)) continue;
    if (!days.empty()) days += ',';
    days += kCalendarNames[size_t(weekday)];
  }
  return days + " *-*-* " + TwoDigits(Hour) + ":" + TwoDigits(Minute) + ":00";
}

std::string WeeklySchedule::Describe() const {
  std::string days;
  if (Weekdays == kAllWeekdays) {
    days = "day";
  } else {
    std::vector<const char*> names;
    for (int weekday : kListingOrder) {
      if (HasDay(Weekdays, weekday)) names.push_back(kWeekdayNames[size_t(weekday)]);
    }
    for (size_t i = 0; i < names.size(); ++i) {
      if (i > 0) days += i + 1 == names.size() ? " and " : ", ";
      days += names[i];
    }
  }
  const std::string weeks =
      IntervalWeeks == 1 ? std::string("every week") : "every " + std::to_string(IntervalWeeks) + " weeks";
  return "At " + TwoDigits(Hour) + ":" + TwoDigits(Minute) + " every " + days + " of " + weeks + ", starting " +
         StartDateText();
}

std::string WeeklySchedule::RunCondition(int64_t today) const {
  const int64_t start = StartDay();
  if (IntervalWeeks == 1 && start <= today) return {};
  // Today's local date as a day number: midnight of today's date read as UTC.
  std::string condition = "d=$(( $(date -u -d $(date +%F) +%s) / 86400 )); [ $d -ge " + std::to_string(start) + " ]";
  if (IntervalWeeks > 1) {
    const int64_t firstSunday = start - (start + kEpochWeekday) % kDaysPerWeek;
    condition += " && [ $(( (d - " + std::to_string(firstSunday) + ") / 7 % " + std::to_string(IntervalWeeks) +
                 " )) -eq 0 ]";
  }
  return condition;
}

} // namespace quillo::jobsched
