// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/AutoDefragScheduler.h"

#include <algorithm>
#include <cmath>

namespace quillo {

namespace {

constexpr double kHoursPerDay = 24.0;
// Date-times near today carry about a microsecond of rounding; a difference
// of exactly three hours must not come out as two hours and 59 minutes.
constexpr double kHourRoundingAllowance = 1e-6;

} // namespace

int32_t AutoDefragScheduler::StartThreshold(int32_t autoIdleTime) {
  int32_t minutes = std::clamp(autoIdleTime, kFewestIdleMinutes, kMostIdleMinutes);
  return minutes * kTicksPerMinuteTimesDivisor / kTickDivisor;
}

int64_t AutoDefragScheduler::WholeHoursBetween(TDateTime a, TDateTime b) {
  return int64_t(std::floor(std::fabs(a - b) * kHoursPerDay + kHourRoundingAllowance));
}

AutoDefragScheduler::Outcome AutoDefragScheduler::Step(int32_t cpuPercent, int32_t diskPercent,
                                                       const SettingFields& settings,
                                                       const SystemVolume& system) {
  if (AutoDefragRunning == 0) return Wait(cpuPercent, diskPercent, settings, system);
  Supervise(cpuPercent, diskPercent, settings, system.Job);
  return Outcome::Nothing;
}

AutoDefragScheduler::Outcome AutoDefragScheduler::Wait(int32_t cpuPercent, int32_t diskPercent,
                                                       const SettingFields& settings,
                                                       const SystemVolume& system) {
  if (cpuPercent < kCalmCpuPercent && diskPercent < kCalmDiskPercent) {
    ++IdleTicks;
  } else {
    IdleTicks = IdleTicks < kBusyTickPenalty ? 0 : IdleTicks - kBusyTickPenalty;
  }
  if (IdleTicks <= StartThreshold(settings.AutoIdleTime)) return Outcome::Nothing;

  // Whether or not a run starts, the idle time is counted afresh.
  IdleTicks = 0;
  if (!MayStartOn(system)) return Outcome::Nothing;
  try {
    system.Job->DefragDeal(jcAutoDefrag, dmFast);
  } catch (const DefragError&) {
    // The job refused (a command is under way or handed over, or its
    // thread has ended): nothing starts, as for a busy volume.
    return Outcome::Nothing;
  }
  AutoDefragRunning = -1;
  return Outcome::Started;
}

bool AutoDefragScheduler::MayStartOn(const SystemVolume& system) {
  // Never defragmented (0) always passes.
  if (system.LastDefragTime != 0 &&
      WholeHoursBetween(Time->Now(), system.LastDefragTime) < kMinimumHoursBetweenRuns)
    return false;
  // A job still busy in all but its state refuses the command itself.
  return system.Job && IsAtRest(system.Job->State());
}

void AutoDefragScheduler::Supervise(int32_t cpuPercent, int32_t diskPercent,
                                    const SettingFields& settings, AutoDefragJob* job) {
  // A system volume that left the list takes its run with it.
  if (!job || (IsAtRest(job->State()) && job->IsSettled()) || job->Command() != jcAutoDefrag) {
    AutoDefragRunning = 0;
    return;
  }
  if (IsAtRest(job->State())) return; // between the analysis and the pass

  if (cpuPercent > settings.CpuLimitValue || diskPercent > settings.CpuLimitValue) {
    if (IsRunning(job->State())) {
      try {
        job->PauseDeal();
      } catch (const DefragError&) {
        // The run left its running state since it was read; the next tick
        // sees where it went.
      }
    }
    if (IdleTicks < kBusyTickCeiling) ++IdleTicks;
    return;
  }
  if (IdleTicks > 1) --IdleTicks;
  if (IsPaused(job->State()) && IdleTicks == 1) {
    try {
      job->ResumeDeal();
    } catch (const DefragError&) {
      // Stopped or finished since it was read; the next tick lets go.
    }
  }
}

} // namespace quillo
