// SPDX-License-Identifier: GPL-2.0-or-later
// The window's view of the task library (libjobsched): the weekly task and
// the log-on task that start the program with its own switches. The program
// uses the library itself; tests may pass their own.
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

// The task names the program registers for itself, and the lower-case form
// the schedule page's edit calls use (names compare without regard to case).
inline constexpr const char16_t* kScheduleTaskName = u"QuilloDefrag.job";
inline constexpr const char16_t* kScheduleTaskEditName = u"quillodefrag.job";
inline constexpr const char16_t* kLogOnTaskName = u"AutoQuilloDefrag.job";

class TaskLibrary {
public:
  virtual ~TaskLibrary() = default;

  // A weekly task that starts `executable` with `parameters`: every
  // `intervalWeeks` weeks on the `weekdays` mask (1 Sunday, 2 Monday, ...,
  // 64 Saturday) at hour:minute, from year-month-day on.
  virtual void NewTaskWeekly(const std::u16string& name, const std::u16string& executable,
                             const std::u16string& parameters, int32_t intervalWeeks,
                             int32_t weekdays, int32_t year, int32_t month, int32_t day,
                             int32_t hour, int32_t minute) = 0;
  // A task that starts `executable` with `parameters` at every log-on.
  virtual void NewTaskAtLogOn(const std::u16string& name, const std::u16string& executable,
                              const std::u16string& parameters) = 0;
  virtual bool IsTaskExist(const std::u16string& name) = 0;
  // Does nothing when there is no such task.
  virtual void DeleteTask(const std::u16string& name) = 0;
  // When the task runs, in words; "" for a task that does not exist.
  virtual std::u16string GetTaskTime(const std::u16string& name) = 0;
  // The library's own dialog for the task's schedule, modally; returns when
  // it is closed.
  virtual void EditTask(const std::u16string& name) = 0;
};

} // namespace quillo
