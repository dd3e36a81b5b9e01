// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/StatusText.h"

#include <cmath>
#include <cstdio>

#include "engine/DefragDefine.h"

namespace quillo {

namespace {
constexpr uint64_t kKilobytesPerMegabyte = 1024;
constexpr uint64_t kKilobytesPerGigabyte = 1024 * 1024;
constexpr int kSecondsPerDay = 86400;
constexpr uint64_t kDefragOnlyAbovePercent = 10;

std::string WithPercent(const char* text, uint32_t percent) {
  return std::string(text) + " " + std::to_string(percent) + "%";
}

std::string TwoDecimals(double value, const char* unit) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f%s", value, unit);
  return buffer;
}
} // namespace

std::string JobStatusText(uint8_t state, uint8_t command, uint8_t mode, uint32_t percent) {
  switch (state) {
  case dsAnalyzing:
    return WithPercent(command == jcAutoDefrag ? "AutoAnalyze" : "Analyzing", percent);
  case dsAnalyzePaused:
  case dsDefragPaused:
    return "Pause";
  case dsAnalyzed:
    return "Analyzed";
  case dsDefragging:
    if (command == jcManualDefrag)
      return WithPercent(mode == dmFast ? "Defragging" : "Optimizing", percent);
    if (command == jcAutoDefrag) return WithPercent("AutoDefrag", percent);
    return "";
  case dsDefragged:
    if (command == jcManualDefrag) return mode == dmFast ? "Defragged" : "Optimized";
    if (command == jcAutoDefrag) return "AutoDefragged";
    return "";
  case dsIdle:
    return "Idle";
  case dsStopping:
    return "Stopping";
  default:
    return "";
  }
}

std::string FileResultText(uint8_t status) {
  switch (status) {
  case fsAnalyzed:
    return "Analyzed";
  case fsDefragged:
    return "Defragged";
  case fsNoSpace:
    return "NoSpace";
  case fsUnmovable:
    return "Unmovable";
  default:
    return "";
  }
}

std::string FormatSize(uint64_t kilobytes) {
  if (kilobytes < kKilobytesPerMegabyte) return std::to_string(kilobytes) + "KB";
  if (kilobytes < kKilobytesPerGigabyte)
    return TwoDecimals(double(kilobytes) / kKilobytesPerMegabyte, "MB");
  return TwoDecimals(double(kilobytes) / kKilobytesPerGigabyte, "GB");
}

std::string TimeOfDayText(double dateTime) {
  double fraction = dateTime - std::floor(dateTime);
  int seconds = int(std::lround(fraction * kSecondsPerDay)) % kSecondsPerDay;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return buffer;
}

std::string SuggestionText(uint64_t percent, int64_t daysSinceOptimized) {
  if (percent > kDefragOnlyAbovePercent) return "Defrag Only";
  if (daysSinceOptimized == 0) return "Not need to defrag";
  return "Defrag & Optimize";
}

} // namespace quillo
