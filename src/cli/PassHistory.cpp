// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/PassHistory.h"

#include <cmath>

#include "settings/ProfileWriteError.h"

namespace quillo {

namespace {
constexpr TDateTime kNever = 0;
constexpr int64_t kNeverOptimized = -1;
} // namespace

PassHistory::PassHistory() { Settings.Load(); }

int64_t PassHistory::DaysSinceOptimized(char letter, TDateTime now) const {
  int index = TSetting::DriveIndex(letter);
  if (index < 0) return kNeverOptimized;
  TDateTime last = Settings.LastOptimizeTime[size_t(index)];
  // Whole days either way, as the report window counts them.
  return last == kNever ? kNeverOptimized : int64_t(std::trunc(std::abs(now - last)));
}

std::string PassHistory::RecordPass(char letter, bool optimized, TDateTime now) {
  int index = TSetting::DriveIndex(letter);
  if (index < 0) return {};
  // Read again: the window may have stored something since.
  Settings.Load();
  Settings.LastDefragTime[size_t(index)] = now;
  if (optimized) Settings.LastOptimizeTime[size_t(index)] = now;
  try {
    Settings.Save();
  } catch (const ProfileWriteError& error) {
    return std::string("the time of the pass cannot be stored: ") + error.what();
  }
  return {};
}

} // namespace quillo
