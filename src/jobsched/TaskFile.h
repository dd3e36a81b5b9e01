// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>

#include "jobsched/WeeklyTask.h"

namespace quillo::jobsched {

// The library's record of a weekly task, as "key=value" lines:
//   Name=QuilloDefrag.job
//   Executable=/usr/bin/quillodefrag
//   Parameters=/Schedule
//   IntervalWeeks=1
//   Weekdays=2
//   StartDate=2026-12-09
//   Hour=22
//   Minute=0
class TaskFile {
public:
  static std::string Write(const WeeklyTask& task);
  // Empty when a key is missing or a value is out of range.
  static std::optional<WeeklyTask> Read(const std::string& text);
};

} // namespace quillo::jobsched
