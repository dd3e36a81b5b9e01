// SPDX-License-Identifier: GPL-2.0-or-later
// Activity counters read from the Linux /proc files below a root folder:
// "/" on a running system, a folder of recorded files in tests.
//   processor idle time: idle + iowait of the "cpu" line of proc/stat;
//   disk idle time: for every whole disk of proc/diskstats, the time since
//   boot (proc/uptime) less the time the disk spent doing I/O.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/ActivityCounters.h"
#include "monitor/HostFacts.h"

namespace quillo {

class ProcActivityCounters final : public ActivityCounters {
public:
  ProcActivityCounters(std::filesystem::path root, HostFacts& host);

  uint32_t ProcessorCount() override;
  std::optional<ProcessorTimes> ReadProcessorTimes() override;
  std::optional<DiskIdleTime> ReadDiskIdle() override;

  // The names of proc/diskstats that count as disks: whole disks only, no
  // partitions and no virtual devices. In the order listed.
  static std::vector<std::string> WholeDisks(const std::vector<std::string>& names);

private:
  std::optional<std::string> ReadText(std::string_view relativePath) const;

  std::filesystem::path Root;
  HostFacts& Host;
};

} // namespace quillo
