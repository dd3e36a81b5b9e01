// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/ScheduleTask.h"

#include <QCoreApplication>

#include "engine/DateTime.h"

namespace quillo {

ScheduleTask::ScheduleTask(TaskLibrary& tasks, Clock& clock, std::u16string program)
    : Tasks(tasks), Today(clock), Program(std::move(program)) {}

bool ScheduleTask::Exists() { return Tasks.IsTaskExist(kScheduleTaskName); }

void ScheduleTask::CreateIfMissing() {
  if (Exists()) return;
  CalendarTime today;
  // A clock outside the calendar leaves the fields at 0; the library then
  // refuses the task and its time text stays empty.
  FileTimeToCalendar(DateTimeToFileTime(Today.Now()), today);
  Tasks.NewTaskWeekly(kScheduleTaskName, Program, kParameters, kIntervalWeeks, kWeekdays,
                      today.Year, today.Month, today.Day, kHour, kMinute);
}

std::u16string ScheduleTask::TimeText() { return Tasks.GetTaskTime(kScheduleTaskName); }

std::u16string ScheduleTask::Edit() {
  Tasks.EditTask(kScheduleTaskEditName);
  return Tasks.GetTaskTime(kScheduleTaskEditName);
}

void ScheduleTask::Delete() { Tasks.DeleteTask(kScheduleTaskName); }

std::u16string RunningProgramFile() {
  return QCoreApplication::applicationFilePath().toStdU16String();
}

} // namespace quillo
