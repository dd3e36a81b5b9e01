// SPDX-License-Identifier: GPL-2.0-or-later
// A folder of recorded /proc files and a host whose clock and facts the test
// sets, for replaying activity samples.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "monitor/HostFacts.h"

namespace quillo::test {

class FakeHost final : public HostFacts {
public:
  std::optional<int64_t> SystemTime() override { return Time; }
  uint32_t OnlineProcessors() override { return Processors; }
  uint32_t ClockTicksPerSecond() override { return TicksPerSecond; }

  std::optional<int64_t> Time = int64_t(17'650'000'000) * 10'000'000; // late 2025
  uint32_t Processors = 2;
  uint32_t TicksPerSecond = 100;
};

struct RecordedDisk {
  std::string Name;
  uint64_t IoMilliseconds = 0;
};

class RecordedProc {
public:
  const std::filesystem::path& Root() const { return Folder.Path(); }

  void Write(const std::string& relativePath, const std::string& text) const {
    std::filesystem::path path = Folder.Path() / relativePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }
  void Remove(const std::string& relativePath) const { std::filesystem::remove(Folder.Path() / relativePath); }

  // proc/stat as the kernel writes it, with the given idle and iowait ticks
  // on the "cpu" line and made-up per-processor lines after it.
  void WriteStat(uint64_t idleTicks, uint64_t iowaitTicks) const {
    Write("proc/stat", "cpu  37895 0 8142 " + std::to_string(idleTicks) + " " + std::to_string(iowaitTicks) +
                           " 0 247 7820 0 0\n"
                           "cpu0 18581 0 3720 768512 111 0 52 3776 0 0\n"
                           "cpu1 19313 0 4422 765611 1074 0 195 4044 0 0\n"
                           "intr 4096 0 9 0\nctxt 1234567\nbtime 1765000000\nprocesses 4321\n");
  }

  void WriteUptime(const std::string& seconds) const { Write("proc/uptime", seconds + " 15341.23\n"); }

  // proc/diskstats lines with the I/O time in the tenth counter.
  void WriteDiskStats(const std::vector<RecordedDisk>& disks) const {
    std::string text;
    int minor = 0;
    for (const RecordedDisk& disk : disks) {
      text += " 254       " + std::to_string(minor++) + " " + disk.Name + " 40135 10166 3376130 27936 17077 9289 2692464 12352 0 " +
              std::to_string(disk.IoMilliseconds) + " 41704 6809 71 1571672 1261 1798 153\n";
    }
    Write("proc/diskstats", text);
  }

private:
  TempDir Folder;
};

} // namespace quillo::test
