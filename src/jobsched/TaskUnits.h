// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "jobsched/CommandLine.h"
#include "jobsched/WeeklyTask.h"

namespace quillo::jobsched {

// The texts of the files a task is made of. Each starts with a line that
// marks it as the library's, so that files of the same name written by
// anyone else are never taken for a task.
class TaskUnits {
public:
  // `today`: days from 1970-01-01, for deciding whether the service needs
  // its run condition.
  static std::string Service(const WeeklyTask& task, const CommandLine& command, int64_t today);
  static std::string Timer(const WeeklyTask& task);
  static std::string AutostartEntry(const TaskName& name, const CommandLine& command);

  static bool IsOurUnit(const std::string& text);
  static bool IsOurAutostartEntry(const std::string& text);
};

} // namespace quillo::jobsched
