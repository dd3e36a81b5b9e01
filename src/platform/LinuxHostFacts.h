// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "monitor/HostFacts.h"

namespace quillo {

// The running system's wall clock, online processors and /proc/stat tick
// rate, for the activity monitor's counters.
class LinuxHostFacts final : public HostFacts {
public:
  std::optional<int64_t> SystemTime() override;
  uint32_t OnlineProcessors() override;
  uint32_t ClockTicksPerSecond() override;
};

} // namespace quillo
