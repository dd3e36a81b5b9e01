// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "jobsched/CommandLine.h"
#include "jobsched/TaskFolders.h"
#include "jobsched/WeeklyTask.h"

namespace quillo::jobsched {

// The tasks of one user: writes, finds and removes their files and tells
// the user's service manager. A name has at most one task: creating one
// kind replaces the other.
class TaskStore {
public:
  explicit TaskStore(TaskFolders folders);

  // Writes the task file, the service and the timer, then reloads the
  // service manager and enables and starts the timer. False, and nothing
  // changed, when the arguments are invalid or a unit of that name is not
  // the library's.
  bool CreateWeekly(const WeeklyTask& task);
  bool CreateAtLogOn(const TaskName& name, const CommandLine& command);
  bool Exists(const TaskName& name) const;
  // Removes whatever of the task exists; true when none of it is left.
  bool Delete(const TaskName& name);
  // The schedule in words; empty when there is no such task.
  std::optional<std::string> Describe(const TaskName& name) const;
  std::optional<WeeklyTask> LoadWeekly(const TaskName& name) const;

  static constexpr const char* kLogOnDescription = "At log on";

private:
  std::filesystem::path TimerPath(const TaskName& name) const;
  std::filesystem::path ServicePath(const TaskName& name) const;
  std::filesystem::path TaskFilePath(const TaskName& name) const;
  std::filesystem::path AutostartPath(const TaskName& name) const;
  bool WeeklyExists(const TaskName& name) const;
  bool LogOnExists(const TaskName& name) const;
  bool RemoveWeekly(const TaskName& name);
  bool RemoveLogOn(const TaskName& name);

  TaskFolders Folders;
};

} // namespace quillo::jobsched
