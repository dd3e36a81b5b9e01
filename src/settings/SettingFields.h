// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quillo {

// The stored options and history of TSetting, with the default of every key
// of config.ini as their initial values.
struct SettingFields {
  static constexpr int kDriveLetters = 26;
  // Days since 30 December 1899, local time; 0 means never.
  using DateTime = double;

  bool StartWithWindows = true;
  bool StopWhenBattary = true;
  bool SilentDefrag = true;
  bool AutoCheckUpdate = true;
  bool CloseMinimize = false;
  bool EnableTrayPrompt = false;
  bool EnableExclude = false;
  int32_t ExcludeSize = 1048576; // kilobytes
  std::string Language = "English";
  std::array<DateTime, kDriveLetters> LastDefragTime{};   // by drive letter 'A'..'Z'
  std::array<DateTime, kDriveLetters> LastOptimizeTime{}; // by drive letter 'A'..'Z'
  DateTime LastAutoDefrag = 0;
  bool EnableQuilloDefrag = true;
  bool EnableCpuLimit = true;
  int32_t CpuLimitValue = 40; // percent
  bool EnableAutoIdleTime = true;
  int32_t AutoIdleTime = 5; // minutes
  bool EnableSchedule = false;
  bool IsOptDefrag_Task = false;
  std::string scheduledisk;
};

} // namespace quillo
