// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

#include "jobsched/TaskName.h"
#include "jobsched/WeeklySchedule.h"

namespace quillo::jobsched {

// Everything the library keeps of a weekly task; its units are made from it.
struct WeeklyTask {
  TaskName Name;
  std::string Executable;
  std::string Parameters;
  WeeklySchedule Schedule;
};

} // namespace quillo::jobsched
