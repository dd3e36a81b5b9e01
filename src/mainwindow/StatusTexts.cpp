// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/StatusTexts.h"

#include <cstdio>

#include "engine/DateTime.h"
#include "settings/MessageText.h"

namespace quillo {

namespace {

constexpr double kBytesPerGibibyte = 1024.0 * 1024.0 * 1024.0;
constexpr int kHundredths = 100;

std::string WithPercent(TLanguage& language, const MessageText& text, uint32_t percent) {
  return language.Lookup(text) + " " + std::to_string(percent) + "%";
}

CellUpdate Always(std::string text) { return {CellUpdate::Write::Always, std::move(text)}; }
CellUpdate WhenChanged(std::string text) {
  return {CellUpdate::Write::WhenChanged, std::move(text)};
}

std::string FormatCalendar(TDateTime value, const char* separator) {
  CalendarTime time;
  FileTimeToCalendar(DateTimeToFileTime(value), time);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%s%02d:%02d:%02d", time.Year, time.Month,
                time.Day, separator, time.Hour, time.Minute, time.Second);
  return text;
}

// "%%" gives one "%"; the first "%" followed by `kind` takes `value`.
std::string FormatWithPlaceholder(const std::string& pattern, char kind, const std::string& value) {
  std::string out;
  bool used = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      char next = pattern[i + 1];
      if (next == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (next == kind && !used) {
        out += value;
        used = true;
        ++i;
        continue;
      }
    }
    out += pattern[i];
  }
  return out;
}

} // namespace

CellUpdate StatusColumnText(uint8_t state, uint8_t command, uint8_t mode, uint32_t percent,
                            TLanguage& language) {
  namespace m = messages;
  switch (state) {
  case dsAnalyzing:
    if (command == jcManualDefrag || command == jcAnalyze)
      return Always(WithPercent(language, m::kAnalyzing, percent));
    if (command == jcAutoDefrag) return Always(WithPercent(language, m::kAutoAnalyze, percent));
    return {};
  case dsAnalyzePaused:
  case dsDefragPaused:
    return WhenChanged(language.Lookup(m::kPause));
  case dsAnalyzed:
    return WhenChanged(language.Lookup(m::kAnalyzed));
  case dsDefragging:
    if (command == jcManualDefrag)
      return Always(WithPercent(language, mode == dmFast ? m::kDefragging : m::kOptimizing, percent));
    if (command == jcAutoDefrag) return Always(WithPercent(language, m::kAutoDefragStatus, percent));
    return {};
  case dsDefragged:
    if (command == jcManualDefrag)
      return WhenChanged(language.Lookup(mode == dmFast ? m::kDefragged : m::kOptimized));
    if (command == jcAutoDefrag) return WhenChanged(language.Lookup(m::kAutoDefragged));
    return {};
  case dsIdle:
    return WhenChanged(language.Lookup(m::kIdle));
  case dsStopping:
    return WhenChanged(language.Lookup(m::kStopping));
  default:
    return {};
  }
}

CellUpdate DeadJobStatusText(const std::string& error, TLanguage& language) {
  return WhenChanged(FormatWithText(language.Lookup(messages::kJobError), error));
}

CellUpdate TimeColumnText(uint8_t state, TDateTime lastDefragTime, const std::string& remaining,
                          TLanguage& language) {
  if (state == dsDefragging) return Always(language.Lookup(messages::kLeftTime) + " " + remaining);
  if (lastDefragTime != 0)
    return WhenChanged(language.Lookup(messages::kLastDefragTime) + " " +
                       FormatListTime(lastDefragTime));
  return WhenChanged(language.Lookup(messages::kNeverDefragVolume));
}

std::string FormatListTime(TDateTime value) { return FormatCalendar(value, ","); }

std::string FormatAutoPageTime(TDateTime value) { return FormatCalendar(value, ", "); }

std::string CapacityText(uint64_t totalBytes, const std::string& decimalSeparator) {
  // Two decimals, rounded half away from zero as the format routine does.
  double gibibytes = double(totalBytes) / kBytesPerGibibyte;
  uint64_t hundredths = uint64_t(gibibytes * kHundredths + 0.5);
  char fraction[4];
  std::snprintf(fraction, sizeof fraction, "%02u", unsigned(hundredths % kHundredths));
  return std::to_string(hundredths / kHundredths) + decimalSeparator + fraction + "G";
}

std::string AutoDefragCountText(int32_t count, TLanguage& language) {
  return FormatWithInteger(language.Lookup(messages::kAutoDefragCount), count);
}

std::string LastAutoDefragText(TDateTime lastAutoDefrag, TLanguage& language) {
  std::string when = lastAutoDefrag == 0 ? language.Lookup(messages::kNeverDefragAuto)
                                         : FormatAutoPageTime(lastAutoDefrag);
  return language.Lookup(messages::kLastAutoDefrag) + " " + when;
}

std::string FormatWithInteger(const std::string& pattern, int64_t value) {
  return FormatWithPlaceholder(pattern, 'd', std::to_string(value));
}

std::string FormatWithText(const std::string& pattern, const std::string& value) {
  return FormatWithPlaceholder(pattern, 's', value);
}

} // namespace quillo
