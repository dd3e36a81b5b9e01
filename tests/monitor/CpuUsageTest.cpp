// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/CpuUsage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "RecordedProc.h"
#include "monitor/ProcActivityCounters.h"

namespace quillo {
namespace {

using test::FakeHost;
using test::RecordedDisk;
using test::RecordedProc;

constexpr int kW = TCpuUsage::kGraphWidth;
constexpr int kH = TCpuUsage::kGraphHeight;
constexpr GraphBounds kWindowBounds{4, 2, 4 + kW, 2 + kH};
constexpr int64_t kUnitsPerSecond = 10'000'000;
constexpr PixelColor kBlack = TCpuUsage::kBackgroundColor;
constexpr PixelColor kGreen = TCpuUsage::kCurveColor;
constexpr PixelColor kGridLine = TCpuUsage::kGridColor;

// Recorded files replayed through the real /proc reader.
struct Machine {
  Machine() { Record(1534123, 1185, "7938.79", {{"loop0", 0}, {"vda", 17680}, {"zram0", 0}}); }
  void Record(uint64_t idleTicks, uint64_t iowaitTicks, const std::string& uptime,
              const std::vector<RecordedDisk>& disks) {
    Proc.WriteStat(idleTicks, iowaitTicks);
    Proc.WriteUptime(uptime);
    Proc.WriteDiskStats(disks);
  }
  RecordedProc Proc;
  FakeHost Host;
  ProcActivityCounters Counters{Proc.Root(), Host};
};

TEST(CpuUsageTest, FirstSampleGivesFullProcessorAndIdleDisk) {
  Machine machine;
  TCpuUsage usage(kWindowBounds, machine.Counters);
  EXPECT_EQ(usage.SampleCpu(), 100);
  EXPECT_EQ(usage.SampleDisk(), 0);
}

TEST(CpuUsageTest, ProcessorIntervals) {
  struct Case {
    const char* What;
    uint32_t Processors;
    uint64_t IdleTicks; // over the interval, at 100 ticks a second
    int64_t Elapsed;    // 100 ns units
    int32_t Expected;
  };
  const std::vector<Case> cases = {
      // 0.5 rounds up to 1 because the guard makes the idle share a hair
      // short of the whole.
      {"idle", 2, 200, kUnitsPerSecond, 1},
      // 100.5 exactly: the half goes to the even neighbour.
      {"busy", 2, 0, kUnitsPerSecond, 100},
      {"one of two processors busy", 2, 100, kUnitsPerSecond, 51},
      {"99 of 200 ticks idle", 2, 99, kUnitsPerSecond, 51},
      {"quarter busy, four processors, two seconds", 4, 600, 2 * kUnitsPerSecond, 26},
      // More idle time than wall time (counters read a tick apart): not
      // clamped.
      {"idle beyond the interval", 2, 204, kUnitsPerSecond, -1},
      {"no time passed, nothing idle", 2, 0, 0, 100},
      // No time passed but idle time did: far outside any percentage.
      {"no time passed, idle time grew", 2, 100, 0, TCpuUsage::kArithmeticFault},
  };
  for (const Case& c : cases) {
    Machine machine;
    machine.Host.Processors = c.Processors;
    TCpuUsage usage(kWindowBounds, machine.Counters);
    ASSERT_EQ(usage.SampleCpu(), 100) << c.What;
    machine.Proc.WriteStat(1534123 + c.IdleTicks, 1185);
    *machine.Host.Time += c.Elapsed;
    EXPECT_EQ(usage.SampleCpu(), c.Expected) << c.What;
  }
}

TEST(CpuUsageTest, ProcessorFailures) {
  Machine machine;
  TCpuUsage usage(kWindowBounds, machine.Counters);
  ASSERT_EQ(usage.SampleCpu(), 100);

  // A failed read changes nothing: the next sample still measures from the
  // last good one, two seconds of which one was idle on both processors.
  machine.Proc.Remove("proc/stat");
  *machine.Host.Time += kUnitsPerSecond;
  EXPECT_EQ(usage.SampleCpu(), TCpuUsage::kFailedRead);
  machine.Proc.WriteStat(1534123 + 200, 1185);
  *machine.Host.Time += kUnitsPerSecond;
  EXPECT_EQ(usage.SampleCpu(), 51);

  // The processor count is read once, at creation.
  Machine noCount;
  noCount.Host.Processors = 0;
  TCpuUsage broken(kWindowBounds, noCount.Counters);
  noCount.Host.Processors = 2;
  EXPECT_EQ(broken.SampleCpu(), TCpuUsage::kArithmeticFault);
  EXPECT_EQ(broken.SampleCpu(), TCpuUsage::kArithmeticFault);
}

TEST(CpuUsageTest, DiskIntervals) {
  struct Case {
    const char* What;
    std::vector<RecordedDisk> Before;
    std::vector<RecordedDisk> After;
    std::string Uptime; // from 1000.00
    int32_t Expected;
  };
  const std::vector<Case> cases = {
      {"idle disk", {{"sda", 500}}, {{"sda", 500}}, "1001.00", 0},
      {"busy disk", {{"sda", 500}}, {{"sda", 1500}}, "1001.00", 100},
      {"busy 30 %", {{"sda", 500}}, {{"sda", 800}}, "1001.00", 30},
      {"busy 1 ms", {{"sda", 500}}, {{"sda", 501}}, "1001.00", 1},
      {"two idle disks", {{"sda", 0}, {"sdb", 0}}, {{"sda", 0}, {"sdb", 0}}, "1001.00", 0},
      // One busy disk beside an idle one is half of the disks' time, not an
      // idle machine.
      {"one of two disks busy", {{"sda", 0}, {"sdb", 0}}, {{"sda", 1000}, {"sdb", 0}}, "1001.00", 50},
      {"two busy disks", {{"nvme0n1", 0}, {"sda", 0}}, {{"nvme0n1", 1000}, {"sda", 1000}}, "1001.00", 100},
      {"one of three busy", {{"sda", 0}, {"sdb", 0}, {"sdc", 0}}, {{"sda", 0}, {"sdb", 1000}, {"sdc", 0}},
       "1001.00", 34},
      // Partitions, loop and RAM devices do not count.
      {"busy partition and loop device",
       {{"sda", 0}, {"sda1", 0}, {"loop0", 0}, {"zram0", 0}, {"ram0", 0}},
       {{"sda", 0}, {"sda1", 1000}, {"loop0", 1000}, {"zram0", 1000}, {"ram0", 1000}}, "1001.00", 0},
      // Samples two seconds apart measure against one second: idle, and
      // busy half of the time, both read as idle.
      {"idle, two seconds", {{"sda", 0}}, {{"sda", 0}}, "1002.00", 0},
      {"half busy, two seconds", {{"sda", 0}}, {{"sda", 1000}}, "1002.00", 0},
      {"I/O time ahead of uptime", {{"sda", 0}}, {{"sda", 2000}}, "1001.00", 100},
  };
  for (const Case& c : cases) {
    Machine machine;
    machine.Record(1000, 0, "1000.00", c.Before);
    TCpuUsage usage(kWindowBounds, machine.Counters);
    ASSERT_EQ(usage.SampleDisk(), 0) << c.What;
    machine.Record(1000, 0, c.Uptime, c.After);
    EXPECT_EQ(usage.SampleDisk(), c.Expected) << c.What;
  }
}

TEST(CpuUsageTest, DiskFailuresGiveZero) {
  Machine machine;
  machine.Record(1000, 0, "1000.00", {{"sda", 0}});
  TCpuUsage usage(kWindowBounds, machine.Counters);
  ASSERT_EQ(usage.SampleDisk(), 0);
  machine.Record(1000, 0, "1001.00", {{"sda", 1000}});
  machine.Proc.Remove("proc/diskstats");
  EXPECT_EQ(usage.SampleDisk(), 0);
  machine.Record(1000, 0, "1001.00", {{"loop0", 1000}});
  EXPECT_EQ(usage.SampleDisk(), 0) << "no disks";
  // The failures left the previous sample in place.
  machine.Record(1000, 0, "1001.00", {{"sda", 1000}});
  EXPECT_EQ(usage.SampleDisk(), 100);
}

TEST(CpuUsageTest, BoundsWithoutAreaAreRefused) {
  Machine machine;
  for (GraphBounds bounds : {GraphBounds{0, 0, 0, 41}, GraphBounds{10, 0, 5, 41}, GraphBounds{0, 0, 560, 0},
                             GraphBounds{0, 0, 100000, 41}}) {
    EXPECT_THROW(TCpuUsage(bounds, machine.Counters), std::invalid_argument);
  }
}

// --- The graphs ---

class GraphTest : public ::testing::Test {
protected:
  // Rows holding curve green in one column of the processor graph.
  std::vector<int> CurveRows(int x) const {
    std::vector<int> rows;
    for (int y = 0; y < kH; ++y) {
      if ((Usage.GetCpuGraph().Pixel(x, y) & kGreen) == kGreen) rows.push_back(y);
    }
    return rows;
  }
  bool IsGridColumn(const PixelImage& graph, int x) const {
    for (int y = 0; y < kH; ++y) {
      if (graph.Pixel(x, y) != kGridLine) return false;
    }
    return true;
  }

  Machine Host;
  TCpuUsage Usage{kWindowBounds, Host.Counters};
};

TEST_F(GraphTest, GraphsHaveTheWindowSize) {
  EXPECT_EQ(Usage.GetCpuGraph().Width(), kW);
  EXPECT_EQ(Usage.GetCpuGraph().Height(), kH);
  EXPECT_EQ(Usage.GetDiskGraph().Width(), kW);
  EXPECT_EQ(Usage.GetDiskGraph().Height(), kH);
}

TEST_F(GraphTest, ValueRows) {
  struct Case {
    int32_t Value;
    std::optional<int> Row; // none: below the picture
  };
  const std::vector<Case> cases = {
      {100, 0}, {99, 0}, {98, 0}, {97, 1}, {75, 10}, {50, 20}, {1, 40}, {0, std::nullopt}, {-1, std::nullopt},
  };
  for (const Case& c : cases) {
    Machine machine;
    TCpuUsage usage(kWindowBounds, machine.Counters);
    // Three times, so that the rise from 0 has scrolled out of the newest
    // segment's columns and that segment runs level at the value's row.
    for (int i = 0; i < 3; ++i) usage.DrawCpu(c.Value);
    const PixelImage& graph = usage.GetCpuGraph();
    for (int x = kW - 3; x < kW; ++x) {
      std::vector<int> rows;
      for (int y = 0; y < kH; ++y) {
        if ((graph.Pixel(x, y) & kGreen) == kGreen) rows.push_back(y);
      }
      EXPECT_EQ(rows, c.Row ? std::vector<int>{*c.Row} : std::vector<int>{}) << c.Value << " at " << x;
    }
  }
}

TEST_F(GraphTest, SegmentsAreThreePixelsWideAndScrollLeft) {
  Usage.DrawCpu(50);
  Usage.DrawCpu(50);
  Usage.DrawCpu(100);
  Usage.DrawCpu(100);
  // Newest segment level on the top row.
  EXPECT_EQ(CurveRows(kW - 1), std::vector<int>{0});
  EXPECT_EQ(CurveRows(kW - 2), std::vector<int>{0});
  // The one before it climbs from row 20, one pixel per row, and meets the
  // newest at its first column.
  std::vector<int> climb;
  for (int x = kW - 6; x <= kW - 3; ++x) {
    for (int row : CurveRows(x)) climb.push_back(row);
  }
  std::sort(climb.begin(), climb.end());
  std::vector<int> rowsZeroToTwenty;
  for (int y = 0; y <= 20; ++y) rowsZeroToTwenty.push_back(y);
  EXPECT_EQ(climb, rowsZeroToTwenty);
  // Further left the level stretch at row 20, then the first rise from
  // below the picture, and nothing before it.
  EXPECT_EQ(CurveRows(kW - 7), std::vector<int>{20});
  EXPECT_EQ(CurveRows(kW - 8), std::vector<int>{20});
  EXPECT_FALSE(CurveRows(kW - 12).empty());
  for (int x = 0; x < kW - 12; ++x) EXPECT_TRUE(CurveRows(x).empty()) << x;
}

TEST_F(GraphTest, CurveIsOredOverTheGrid) {
  Usage.DrawCpu(75);
  Usage.DrawCpu(75);
  // Row 10 is a grid line: green OR grid colour.
  EXPECT_EQ(Usage.GetCpuGraph().Pixel(kW - 1, 10), PixelRgb(1, 255, 80));
  // Off the grid lines: pure green on black.
  Usage.DrawCpu(50);
  Usage.DrawCpu(50);
  bool foundPlainGreen = false;
  for (int x = kW - 3; x < kW; ++x) {
    PixelColor pixel = Usage.GetCpuGraph().Pixel(x, 20);
    EXPECT_TRUE(pixel == kGreen || pixel == (kGreen | kGridLine)) << x;
    foundPlainGreen = foundPlainGreen || pixel == kGreen;
  }
  EXPECT_TRUE(foundPlainGreen);
  EXPECT_EQ(Usage.GetCpuGraph().Pixel(5, 1), kBlack);
}

TEST_F(GraphTest, GridScrollsAndIsBackInPlaceAfterFiveSamples) {
  std::vector<std::vector<PixelColor>> graphs;
  for (int sample = 0; sample < 6; ++sample) {
    Usage.DrawCpu(0); // below the picture: only the grid shows
    graphs.push_back(Usage.GetCpuGraph().Data());
  }
  const PixelImage& last = Usage.GetCpuGraph();
  // The starting position: columns 10, 25, 40, … and rows 10, 25, 40.
  for (int x = 0; x < kW; ++x) {
    EXPECT_EQ(IsGridColumn(last, x), x % 15 == 10) << x;
  }
  for (int y = 0; y < kH; ++y) {
    EXPECT_EQ(last.Pixel(1, y), (y == 10 || y == 25 || y == 40) ? kGridLine : kBlack) << y;
  }
  EXPECT_EQ(graphs[5], graphs[0]);
  // In between, 3 pixels further left at each sample.
  for (int sample = 1; sample < 5; ++sample) {
    EXPECT_NE(graphs[sample], graphs[0]) << sample;
    for (int x = 0; x + 3 * sample < kW; ++x) {
      ASSERT_EQ(graphs[sample][size_t(20 * kW + x)], graphs[0][size_t(20 * kW + x + 3 * sample)]) << sample;
    }
  }
}

TEST_F(GraphTest, ProcessorAndDiskGraphsAreIndependent) {
  for (int i = 0; i < 3; ++i) Usage.DrawCpu(100);
  Usage.DrawDisk(50);
  Usage.DrawDisk(50);
  Usage.DrawDisk(50);
  EXPECT_EQ(CurveRows(kW - 1), std::vector<int>{0});
  for (int y = 0; y < kH; ++y) {
    EXPECT_EQ((Usage.GetDiskGraph().Pixel(kW - 1, y) & kGreen) == kGreen, y == 20) << y;
  }
  // Each graph's grid has moved by its own three samples.
  EXPECT_TRUE(IsGridColumn(Usage.GetDiskGraph(), 4));
  EXPECT_TRUE(IsGridColumn(Usage.GetCpuGraph(), 4));
  Usage.DrawCpu(100);
  EXPECT_TRUE(IsGridColumn(Usage.GetCpuGraph(), 1));
  EXPECT_TRUE(IsGridColumn(Usage.GetDiskGraph(), 4));
}

} // namespace
} // namespace quillo
