// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/CpuUsage.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace quillo {

namespace {

// Keeps the first division finite when no time has passed.
constexpr double kDivisionGuard = 0.0001;
constexpr double kPercent = 100.0;
constexpr double kRoundingBias = 0.5;
// 100 ns units in one percent of a second.
constexpr int64_t kUnitsPerPercentSecond = 100'000;
constexpr int64_t kMaxPercent = 100;

// Curves and grid share this extra width, so that the grid can be shown at
// five horizontal offsets and a new segment can be drawn past the edge.
constexpr int kMargin = 20;
constexpr int kSegmentWidth = 3;
constexpr int kMaxPhase = 12;
constexpr int kGridFirstLine = 10;
constexpr int kGridSpacing = 15;
// Larger graphs are taken as a caller's mistake rather than allocated.
constexpr int64_t kMaxGraphSide = 16384;

int GraphSide(int from, int to) {
  const int64_t side = int64_t(to) - int64_t(from);
  if (side <= 0 || side > kMaxGraphSide) throw std::invalid_argument("TCpuUsage bounds");
  return int(side);
}

double RoundHalfEven(double x) {
  const double floor = std::floor(x);
  const double fraction = x - floor;
  if (fraction > 0.5) return floor + 1.0;
  if (fraction < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

int64_t SaturatingDifference(int64_t a, int64_t b) {
  int64_t difference = 0;
  if (!__builtin_sub_overflow(a, b, &difference)) return difference;
  return a > b ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

} // namespace

TCpuUsage::TCpuUsage(const GraphBounds& bounds, ActivityCounters& counters)
    : Counters(counters),
      Bounds(bounds),
      Width(GraphSide(bounds.Left, bounds.Right)),
      Height(GraphSide(bounds.Top, bounds.Bottom)),
      Grid(Width + kMargin, Height, kBackgroundColor),
      CpuCurve(Grid.Width(), Grid.Height(), kBackgroundColor),
      CpuGraph(Width, Height, kBackgroundColor),
      DiskCurve(Grid.Width(), Grid.Height(), kBackgroundColor),
      DiskGraph(CpuGraph.Width(), CpuGraph.Height(), kBackgroundColor),
      Scratch(CpuGraph.Width(), CpuGraph.Height(), kBackgroundColor) {
  ProcessorCount = Counters.ProcessorCount();
  DrawGrid();
}

int32_t TCpuUsage::SampleCpu() {
  const auto times = Counters.ReadProcessorTimes();
  if (!times) return kFailedRead;

  const double idleDifference = double(times->IdleTime) - double(PrevIdleTime);
  const double systemDifference = double(times->SystemTime) - double(PrevSystemTime);
  const double denominator = systemDifference + kDivisionGuard;
  if (denominator == 0.0 || ProcessorCount == 0) return kArithmeticFault;
  const double ratio = idleDifference / denominator;
  const double value = kPercent - ratio * kPercent / double(ProcessorCount) + kRoundingBias;
  if (!std::isfinite(ratio) || !std::isfinite(value)) return kArithmeticFault;

  PrevIdleTime = times->IdleTime;
  PrevSystemTime = times->SystemTime;

  const double rounded = RoundHalfEven(value);
  if (rounded < double(std::numeric_limits<int32_t>::min()) ||
      rounded > double(std::numeric_limits<int32_t>::max())) {
    return kArithmeticFault;
  }
  return int32_t(rounded);
}

int32_t TCpuUsage::SampleDisk() {
  const auto disks = Counters.ReadDiskIdle();
  if (!disks || disks->DiskCount == 0) return 0;
  // The summed idle time of several disks would make one busy disk among
  // idle ones look idle: divide by the disks to get the average.
  int64_t idlePercent = SaturatingDifference(disks->IdleTime, PrevDiskIdle) / kUnitsPerPercentSecond /
                        int64_t(disks->DiskCount);
  PrevDiskIdle = disks->IdleTime;
  idlePercent = std::clamp<int64_t>(idlePercent, 0, kMaxPercent);
  return int32_t(kMaxPercent - idlePercent);
}

void TCpuUsage::DrawCpu(int32_t value) {
  DrawSample(value, CpuCurve, CpuGraph, CpuPhase, LastCpu);
}

void TCpuUsage::DrawDisk(int32_t value) {
  DrawSample(value, DiskCurve, DiskGraph, DiskPhase, LastDisk);
}

int64_t TCpuUsage::RowOf(int32_t value) const {
  // 100 lies on the top row; 0 lies one row below the picture.
  return int64_t((kPercent - double(value)) / kPercent * double(Height));
}

void TCpuUsage::DrawSample(int32_t value, PixelImage& curve, PixelImage& graph, int32_t& phase,
                           int32_t& last) {
  curve.DrawLine(Width - kSegmentWidth, RowOf(last), Width, RowOf(value), kCurveColor);
  graph.CopyColumns(Grid, phase, 0, Width);
  graph.OrColumns(curve, 0, 0, Width);

  Scratch.CopyColumns(curve, kSegmentWidth, 0, Width);
  curve.Fill(kBackgroundColor);
  curve.CopyColumns(Scratch, 0, 0, Width);

  phase += kSegmentWidth;
  if (phase > kMaxPhase) phase = 0;
  last = value;
}

void TCpuUsage::DrawGrid() {
  Grid.Fill(kBackgroundColor);
  for (int x = kGridFirstLine; x < Grid.Width(); x += kGridSpacing) {
    Grid.DrawLine(x, 0, x, Grid.Height(), kGridColor);
  }
  for (int y = kGridFirstLine; y < Grid.Height(); y += kGridSpacing) {
    Grid.DrawLine(0, y, Grid.Width(), y, kGridColor);
  }
  CpuCurve.Fill(kBackgroundColor);
  DiskCurve.Fill(kBackgroundColor);
}

} // namespace quillo
