// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/ProcActivityCounters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordedProc.h"

namespace quillo {
namespace {

using test::FakeHost;
using test::RecordedProc;

constexpr int64_t kUnitsPerSecond = 10'000'000;

TEST(ProcActivityCountersTest, WholeDisksLeaveOutPartitionsAndVirtualDevices) {
  struct Case {
    std::vector<std::string> Names;
    std::vector<std::string> Disks;
  };
  const std::vector<Case> cases = {
      // Recorded on a virtual machine.
      {{"loop0", "loop1", "vda", "vda1", "vda2", "zram0"}, {"vda"}},
      {{"sda", "sda1", "sda2", "sdb", "sdb1", "sr0"}, {"sda", "sdb"}},
      // Names ending in a digit number their partitions after a "p"; eMMC
      // boot and replay-protected areas belong to their card.
      {{"nvme0n1", "nvme0n1p1", "nvme0n1p2", "nvme0n10", "mmcblk0", "mmcblk0p1", "mmcblk0boot0",
        "mmcblk0boot1", "mmcblk0rpmb"},
       {"nvme0n1", "nvme0n10", "mmcblk0"}},
      // "sdaa" is the 27th disk, not a partition of "sda".
      {{"sda", "sdaa", "sdaa1"}, {"sda", "sdaa"}},
      {{"ram0", "ram15", "dm-0", "dm-1", "md0", "md0p1", "nbd0", "fd0", "sr1"}, {}},
      {{"vda", "xvda", "xvda1", "hda", "hda3"}, {"vda", "xvda", "hda"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProcActivityCounters::WholeDisks(c.Names), c.Disks) << c.Names.front();
  }
}

TEST(ProcActivityCountersTest, ProcessorIdleIsIdlePlusIowaitInHundredNanoseconds) {
  struct Case {
    uint64_t Idle;
    uint64_t Iowait;
    uint32_t TicksPerSecond;
    int64_t Expected;
  };
  const std::vector<Case> cases = {
      {1534123, 1185, 100, int64_t(1535308) * 100'000},
      {0, 0, 100, 0},
      // A rate that does not divide a second evenly: 7 ticks at 3 a second.
      {5, 2, 3, 7 * kUnitsPerSecond / 3},
      {1000, 24, 1024, kUnitsPerSecond},
  };
  for (const Case& c : cases) {
    RecordedProc proc;
    FakeHost host;
    host.TicksPerSecond = c.TicksPerSecond;
    proc.WriteStat(c.Idle, c.Iowait);
    ProcActivityCounters counters(proc.Root(), host);
    auto times = counters.ReadProcessorTimes();
    ASSERT_TRUE(times.has_value()) << c.Idle;
    EXPECT_EQ(times->IdleTime, c.Expected) << c.Idle;
    EXPECT_EQ(times->SystemTime, *host.Time);
  }
}

TEST(ProcActivityCountersTest, ProcessorTimesFailWhenAnyPartCannotBeRead) {
  RecordedProc proc;
  FakeHost host;
  ProcActivityCounters counters(proc.Root(), host);
  EXPECT_FALSE(counters.ReadProcessorTimes()) << "no proc/stat";

  const std::vector<std::string> damaged = {
      "",
      "cpu0 1 2 3 4 5\n",          // per-processor lines only
      "cpu  37895 0 8142\n",        // too few columns
      "cpu  37895 0 8142 x 12\n",   // not a number
      "cpu  37895 0 8142 -5 12\n",  // negative
      "cpu  1 0 1 99999999999999999999999 0\n",
  };
  for (const std::string& text : damaged) {
    proc.Write("proc/stat", text);
    EXPECT_FALSE(counters.ReadProcessorTimes()) << text;
  }

  proc.WriteStat(100, 0);
  host.TicksPerSecond = 0;
  EXPECT_FALSE(counters.ReadProcessorTimes()) << "unknown tick rate";
  host.TicksPerSecond = 100;
  host.Time.reset();
  EXPECT_FALSE(counters.ReadProcessorTimes()) << "clock unreadable";
  host.Time = 5;
  EXPECT_TRUE(counters.ReadProcessorTimes());
}

TEST(ProcActivityCountersTest, DiskIdleIsUptimeLessIoTimeSummedOverWholeDisks) {
  RecordedProc proc;
  FakeHost host;
  ProcActivityCounters counters(proc.Root(), host);
  proc.WriteUptime("7938.79");
  proc.WriteDiskStats({{"loop0", 900}, {"vda", 17680}, {"vda1", 17000}, {"zram0", 4000}});
  auto idle = counters.ReadDiskIdle();
  ASSERT_TRUE(idle.has_value());
  EXPECT_EQ(idle->DiskCount, 1u);
  EXPECT_EQ(idle->IdleTime, int64_t(793879) * 100'000 - int64_t(17680) * 10'000);

  proc.WriteDiskStats({{"sda", 1000}, {"sda1", 1000}, {"sdb", 250}});
  proc.WriteUptime("100");
  idle = counters.ReadDiskIdle();
  ASSERT_TRUE(idle.has_value());
  EXPECT_EQ(idle->DiskCount, 2u);
  EXPECT_EQ(idle->IdleTime, (100 - 1) * kUnitsPerSecond + (100 * kUnitsPerSecond - 2'500'000));

  // Uptime with finer fractions than the kernel writes.
  proc.WriteUptime("1.2345678");
  idle = counters.ReadDiskIdle();
  ASSERT_TRUE(idle.has_value());
  EXPECT_EQ(idle->IdleTime, 2 * 12'345'678 - (1000 + 250) * 10'000);
}

TEST(ProcActivityCountersTest, DiskIdleFailsOnMissingOrDamagedFiles) {
  RecordedProc proc;
  FakeHost host;
  ProcActivityCounters counters(proc.Root(), host);
  EXPECT_FALSE(counters.ReadDiskIdle()) << "nothing recorded";
  proc.WriteDiskStats({{"sda", 10}});
  EXPECT_FALSE(counters.ReadDiskIdle()) << "no proc/uptime";
  for (const char* uptime : {"", "\n", "x 1.00\n", "12. 3.00\n", "-3.00 1.00\n", ".5 1.00\n"}) {
    proc.Write("proc/uptime", uptime);
    EXPECT_FALSE(counters.ReadDiskIdle()) << uptime;
  }
  proc.WriteUptime("12.00");
  proc.Remove("proc/diskstats");
  EXPECT_FALSE(counters.ReadDiskIdle()) << "no proc/diskstats";

  // Damaged lines are passed over; a machine without disks has none to count.
  proc.Write("proc/diskstats", "   8 0 sda 1 2 3\n   8 16 sdb 1 2 3 4 5 6 7 8 9 x 11\n");
  auto idle = counters.ReadDiskIdle();
  ASSERT_TRUE(idle.has_value());
  EXPECT_EQ(idle->DiskCount, 0u);
}

} // namespace
} // namespace quillo
