// SPDX-License-Identifier: GPL-2.0-or-later
// The raw counters the activity monitor computes its percentages from. All
// times are in 100 ns units.
#pragma once

#include <cstdint>
#include <optional>

namespace quillo {

struct ProcessorTimes {
  // Idle time summed over all processors.
  int64_t IdleTime = 0;
  // Wall-clock time.
  int64_t SystemTime = 0;
};

struct DiskIdleTime {
  // Accumulated idle time summed over the disks counted.
  int64_t IdleTime = 0;
  uint32_t DiskCount = 0;
};

class ActivityCounters {
public:
  virtual ~ActivityCounters() = default;
  // 0 when it cannot be told.
  virtual uint32_t ProcessorCount() = 0;
  // Empty when a counter cannot be read.
  virtual std::optional<ProcessorTimes> ReadProcessorTimes() = 0;
  virtual std::optional<DiskIdleTime> ReadDiskIdle() = 0;
};

} // namespace quillo
