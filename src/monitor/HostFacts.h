// SPDX-License-Identifier: GPL-2.0-or-later
// What the activity counters need from the operating system besides its
// /proc files: the wall clock and two fixed facts. Injected so that tests
// can replay recorded samples at chosen times.
#pragma once

#include <cstdint>
#include <optional>

namespace quillo {

class HostFacts {
public:
  virtual ~HostFacts() = default;
  // Wall-clock time in 100 ns units; empty when the clock cannot be read.
  virtual std::optional<int64_t> SystemTime() = 0;
  // Processors online; 0 when it cannot be told.
  virtual uint32_t OnlineProcessors() = 0;
  // Units of the /proc/stat times per second; 0 when it cannot be told.
  virtual uint32_t ClockTicksPerSecond() = 0;
};

} // namespace quillo
