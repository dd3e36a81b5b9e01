// SPDX-License-Identifier: GPL-2.0-or-later
// The decisions of idle-time automatic defragmentation, taken once per
// status tick: count calm ticks while no automatic run exists and start one
// on the system volume after the chosen idle time; during a run, pause it
// while the processor or the disk is busier than the limit and resume it
// once they have calmed down; let go when the run ends or a manual command
// takes the job over. Plain data in, commands to the job out, no widgets.
#pragma once

#include <cstdint>

#include "engine/Clock.h"
#include "engine/DefragDefine.h"
#include "mainwindow/AutoDefragJob.h"
#include "settings/SettingFields.h"

namespace quillo {

class AutoDefragScheduler {
public:
  // Below both, a tick counts as calm while waiting for idle time.
  static constexpr int32_t kCalmCpuPercent = 15;
  static constexpr int32_t kCalmDiskPercent = 20;
  // A busy tick while waiting costs this many calm ones.
  static constexpr int32_t kBusyTickPenalty = 5;
  // During a run the busy ticks are counted up to this many.
  static constexpr int32_t kBusyTickCeiling = 5;
  // Status ticks per minute, times this divisor: 600 / 7 ticks of 700 ms.
  static constexpr int32_t kTicksPerMinuteTimesDivisor = 600;
  static constexpr int32_t kTickDivisor = 7;
  // The idle times the page offers, in minutes; a stored value outside is
  // taken as the nearest, as the page shows it.
  static constexpr int32_t kFewestIdleMinutes = 1;
  static constexpr int32_t kMostIdleMinutes = 10;
  // A volume defragmented less than this many whole hours ago is left alone.
  static constexpr int64_t kMinimumHoursBetweenRuns = 3;

  // The system volume as this tick sees it: its job (null when the volume
  // list has no system volume) and when it was last defragmented.
  struct SystemVolume {
    AutoDefragJob* Job = nullptr;
    TDateTime LastDefragTime = 0;
  };

  enum class Outcome : uint8_t {
    Nothing,
    // An automatic run was handed to the system volume's job: the window
    // shows the tray notice when the settings ask for it.
    Started,
  };

  explicit AutoDefragScheduler(Clock& clock) : Time(&clock) {}

  // One tick with the latest activity sample (percent) and the stored
  // settings; only AutoIdleTime and CpuLimitValue are read.
  Outcome Step(int32_t cpuPercent, int32_t diskPercent, const SettingFields& settings,
               const SystemVolume& system);

  // Calm ticks while waiting; busy ticks (0 to 5) during a run.
  int32_t IdleTicks = 0;
  // Non-zero while an automatic run is under way (-1 when started here).
  int32_t AutoDefragRunning = 0;

  // The idle ticks to exceed before a start, for an idle time in minutes.
  static int32_t StartThreshold(int32_t autoIdleTime);
  // Whole hours between two date-times, either order.
  static int64_t WholeHoursBetween(TDateTime a, TDateTime b);

private:
  Outcome Wait(int32_t cpuPercent, int32_t diskPercent, const SettingFields& settings,
               const SystemVolume& system);
  void Supervise(int32_t cpuPercent, int32_t diskPercent, const SettingFields& settings,
                 AutoDefragJob* job);
  bool MayStartOn(const SystemVolume& system);

  Clock* Time;
};

} // namespace quillo
