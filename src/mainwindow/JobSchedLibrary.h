// SPDX-License-Identifier: GPL-2.0-or-later
// The task library as the program uses it: libjobsched, linked by name and
// found beside the program (or in the library folder of an installation).
#pragma once

#include "mainwindow/TaskLibrary.h"

namespace quillo {

class JobSchedLibrary final : public TaskLibrary {
public:
  // The one instance; the library keeps no state of its own in memory
  // besides GetTaskTime's buffer, which is copied at once.
  static JobSchedLibrary& Instance();

  void NewTaskWeekly(const std::u16string& name, const std::u16string& executable,
                     const std::u16string& parameters, int32_t intervalWeeks, int32_t weekdays,
                     int32_t year, int32_t month, int32_t day, int32_t hour,
                     int32_t minute) override;
  void NewTaskAtLogOn(const std::u16string& name, const std::u16string& executable,
                      const std::u16string& parameters) override;
  bool IsTaskExist(const std::u16string& name) override;
  void DeleteTask(const std::u16string& name) override;
  std::u16string GetTaskTime(const std::u16string& name) override;
  void EditTask(const std::u16string& name) override;
};

} // namespace quillo
