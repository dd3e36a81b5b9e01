// SPDX-License-Identifier: GPL-2.0-or-later
// The exported entry points: convert the callers' arguments and hand them to
// the task store. Nothing may escape as an exception across the C boundary.
#include "jobsched/JobSched.h"

#include <exception>
#include <string>

#include "jobsched/ScheduleDialog.h"
#include "jobsched/TaskStore.h"
#include "jobsched/TaskText.h"

using namespace quillo::jobsched;

namespace {

constexpr int32_t kDone = 1;
constexpr int32_t kNotDone = 0;

std::optional<TaskStore> UserStore() {
  auto folders = TaskFolders::ForUser();
  if (!folders) return std::nullopt;
  return TaskStore(*folders);
}

template <typename Action>
int32_t Guarded(Action action) {
  try {
    return action() ? kDone : kNotDone;
  } catch (const std::exception&) {
    return kNotDone;
  }
}

} // namespace

extern "C" {

int32_t NewTaskWeekly(const char16_t* name, const char16_t* executable, const char16_t* parameters,
                      int32_t intervalWeeks, int32_t weekdays, int32_t year, int32_t month, int32_t day,
                      int32_t hour, int32_t minute) {
  return Guarded([&] {
    auto taskName = TaskName::FromCaller(name);
    auto program = TaskText::FromCaller(executable);
    auto arguments = TaskText::FromCaller(parameters);
    auto store = UserStore();
    if (!taskName || !program || !arguments || !store) return false;
    WeeklyTask task{*taskName, *program, *arguments,
                    WeeklySchedule{intervalWeeks, weekdays, year, month, day, hour, minute}};
    return store->CreateWeekly(task);
  });
}

int32_t NewTaskAtLogOn(const char16_t* name, const char16_t* executable, const char16_t* parameters) {
  return Guarded([&] {
    auto taskName = TaskName::FromCaller(name);
    auto program = TaskText::FromCaller(executable);
    auto arguments = TaskText::FromCaller(parameters);
    auto store = UserStore();
    if (!taskName || !program || !arguments || !store) return false;
    auto command = CommandLine::Make(*program, *arguments);
    return command && store->CreateAtLogOn(*taskName, *command);
  });
}

int32_t IsTaskExist(const char16_t* name) {
  return Guarded([&] {
    auto taskName = TaskName::FromCaller(name);
    auto store = UserStore();
    return taskName && store && store->Exists(*taskName);
  });
}

int32_t DeleteTask(const char16_t* name) {
  return Guarded([&] {
    auto taskName = TaskName::FromCaller(name);
    auto store = UserStore();
    return taskName && store && store->Delete(*taskName);
  });
}

const char16_t* GetTaskTime(const char16_t* name) {
  thread_local std::u16string description;
  description.clear();
  try {
    auto taskName = TaskName::FromCaller(name);
    auto store = UserStore();
    if (taskName && store) {
      if (auto text = store->Describe(*taskName)) description = TaskText::ToCaller(*text);
    }
  } catch (const std::exception&) {
    description.clear();
  }
  return description.c_str();
}

int32_t EditTask(const char16_t* name) {
  return Guarded([&] {
    auto taskName = TaskName::FromCaller(name);
    auto store = UserStore();
    if (!taskName || !store) return false;
    auto task = store->LoadWeekly(*taskName);
    if (!task) return false;
    auto edited = ScheduleDialog::Edit(task->Name.Text(), task->Schedule);
    if (!edited) return false;
    task->Schedule = *edited;
    return store->CreateWeekly(*task);
  });
}

} // extern "C"
