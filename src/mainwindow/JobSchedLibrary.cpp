// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/JobSchedLibrary.h"

#include "jobsched/JobSched.h"

namespace quillo {

// The library's results other than IsTaskExist's and GetTaskTime's are for
// diagnosis only; a failure shows in the task's time text.

JobSchedLibrary& JobSchedLibrary::Instance() {
  static JobSchedLibrary library;
  return library;
}

void JobSchedLibrary::NewTaskWeekly(const std::u16string& name, const std::u16string& executable,
                                    const std::u16string& parameters, int32_t intervalWeeks,
                                    int32_t weekdays, int32_t year, int32_t month, int32_t day,
                                    int32_t hour, int32_t minute) {
  ::NewTaskWeekly(name.c_str(), executable.c_str(), parameters.c_str(), intervalWeeks, weekdays,
                  year, month, day, hour, minute);
}

void JobSchedLibrary::NewTaskAtLogOn(const std::u16string& name, const std::u16string& executable,
                                     const std::u16string& parameters) {
  ::NewTaskAtLogOn(name.c_str(), executable.c_str(), parameters.c_str());
}

bool JobSchedLibrary::IsTaskExist(const std::u16string& name) {
  return ::IsTaskExist(name.c_str()) != 0;
}

void JobSchedLibrary::DeleteTask(const std::u16string& name) { ::DeleteTask(name.c_str()); }

std::u16string JobSchedLibrary::GetTaskTime(const std::u16string& name) {
  // The buffer belongs to the library and lasts only until its next call.
  const char16_t* text = ::GetTaskTime(name.c_str());
  return text ? std::u16string(text) : std::u16string();
}

void JobSchedLibrary::EditTask(const std::u16string& name) { ::EditTask(name.c_str()); }

} // namespace quillo
