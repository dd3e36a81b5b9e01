// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/QuantityText.h"

#include <cmath>
#include <cstdio>

namespace quillo {

namespace {
constexpr size_t kDigitsPerGroup = 3;
constexpr double kUnitStep = 1024.0;
constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
// Below this many units one decimal is worth showing.
constexpr double kDecimalBelow = 10.0;
// Closer than this to a whole number of units, the decimal adds nothing.
constexpr double kWholeTolerance = 0.05;
} // namespace

std::string FormatCount(uint64_t count) {
  std::string digits = std::to_string(count);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % kDigitsPerGroup == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string FormatByteSize(uint64_t bytes) {
  if (bytes < kUnitStep) return std::to_string(bytes) + " bytes";
  double value = double(bytes) / kUnitStep;
  size_t unit = 0;
  while (value >= kUnitStep && unit + 1 < std::size(kUnits)) {
    value /= kUnitStep;
    ++unit;
  }
  char text[32];
  bool whole = std::fabs(value - std::round(value)) < kWholeTolerance;
  if (value < kDecimalBelow && !whole)
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  else
    std::snprintf(text, sizeof text, "%.0f %s", std::round(value), kUnits[unit]);
  return text;
}

} // namespace quillo
