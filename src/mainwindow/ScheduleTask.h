// SPDX-License-Identifier: GPL-2.0-or-later
// The weekly defragmentation task "QuilloDefrag.job" as the window drives
// it through the task library: created on demand (every Monday at 22:00,
// from today), read back as text, edited in the library's dialog, deleted.
#pragma once

#include <string>

#include "engine/Clock.h"
#include "mainwindow/TaskLibrary.h"

namespace quillo {

class ScheduleTask {
public:
  // The task runs the program with this switch.
  static constexpr const char16_t* kParameters = u"/Schedule";
  // What a new task's schedule is: every week, on Monday (the library's
  // weekday mask), at 22:00.
  static constexpr int32_t kIntervalWeeks = 1;
  static constexpr int32_t kWeekdays = 2;
  static constexpr int32_t kHour = 22;
  static constexpr int32_t kMinute = 0;

  // `program` is the full path of the executable the task starts; `clock`
  // gives today's date.
  ScheduleTask(TaskLibrary& tasks, Clock& clock, std::u16string program);

  bool Exists();
  // Creates the task from today's local date when it does not exist.
  void CreateIfMissing();
  // When it runs, as the library describes it.
  std::u16string TimeText();
  // The library's dialog, then the time text read back right after it.
  std::u16string Edit();
  // Nothing happens when there is no task.
  void Delete();

private:
  TaskLibrary& Tasks;
  Clock& Today;
  std::u16string Program;
};

// The full path of the running program, for the tasks that start it again.
std::u16string RunningProgramFile();

} // namespace quillo
