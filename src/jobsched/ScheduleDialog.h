// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>

#include "jobsched/WeeklySchedule.h"

namespace quillo::jobsched {

// The library's dialog for a weekly task: the weekdays, the time and the
// interval in weeks; the start date is shown, not changed. The only part of
// the library that needs Qt.
class ScheduleDialog {
public:
  // Object names of the controls, for the window's own tests.
  static constexpr const char* kDialogName = "JobschedScheduleDialog";
  static constexpr const char* kTimeName = "Time";
  static constexpr const char* kIntervalName = "IntervalWeeks";
  static constexpr const char* kOkName = "Ok";
  // The weekday boxes are named after the days: "Sunday" … "Saturday".

  // Shows the dialog modally and returns the schedule when the user pressed
  // OK. Empty after Cancel, and when no dialog can be shown: the process
  // runs a non-widget Qt application, or none and there is no display.
  static std::optional<WeeklySchedule> Edit(const std::string& taskName, const WeeklySchedule& schedule);
};

} // namespace quillo::jobsched
