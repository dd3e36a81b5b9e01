// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/CheckDate.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace quillo {

namespace {

using namespace std::chrono;

// Day 0 of a date-time.
constexpr sys_days kDateTimeEpoch = sys_days{year{1899} / December / 30};
// "yyyy-MM-dd"
constexpr size_t kDateLength = 10;
constexpr size_t kFirstDash = 4;
constexpr size_t kSecondDash = 7;
constexpr int kDecimalBase = 10;

bool ReadNumber(std::string_view digits, int& out) {
  out = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    out = out * kDecimalBase + (c - '0');
  }
  return true;
}

} // namespace

std::string FormatCheckDate(TDateTime moment) {
  year_month_day date{kDateTimeEpoch + days{static_cast<long>(std::floor(moment))}};
  char text[kDateLength + 1];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()),
                unsigned(date.day()));
  return text;
}

std::optional<TDateTime> ParseCheckDate(std::string_view text) {
  if (text.size() != kDateLength || text[kFirstDash] != '-' || text[kSecondDash] != '-')
    return std::nullopt;
  int y = 0;
  int m = 0;
  int d = 0;
  if (!ReadNumber(text.substr(0, kFirstDash), y) ||
      !ReadNumber(text.substr(kFirstDash + 1, kSecondDash - kFirstDash - 1), m) ||
      !ReadNumber(text.substr(kSecondDash + 1), d))
    return std::nullopt;
  year_month_day date{year{y}, month{unsigned(m)}, day{unsigned(d)}};
  if (!date.ok()) return std::nullopt;
  return TDateTime((sys_days{date} - kDateTimeEpoch).count());
}

} // namespace quillo
