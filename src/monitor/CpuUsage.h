// SPDX-License-Identifier: GPL-2.0-or-later
// The activity monitor: processor usage and disk activity in percent,
// sampled once a second by the window, each drawn as a scrolling line graph
// over a scrolling grid. Each sample adds a 3-pixel segment at the right
// edge; curve and grid move left by 3 pixels per sample.
#pragma once

#include <cstdint>

#include "monitor/ActivityCounters.h"
#include "monitor/PixelImage.h"

namespace quillo {

struct GraphBounds {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

class TCpuUsage {
public:
  // The size of the window's two graph images.
  static constexpr int kGraphWidth = 560;
  static constexpr int kGraphHeight = 41;
  static constexpr int32_t kFailedRead = -1;
  static constexpr int32_t kArithmeticFault = 1;

  static constexpr PixelColor kBackgroundColor = PixelRgb(0, 0, 0);
  static constexpr PixelColor kGridColor = PixelRgb(1, 109, 80);
  static constexpr PixelColor kCurveColor = PixelRgb(0, 255, 0);

  // The counters must outlive the monitor. Throws std::invalid_argument for
  // bounds without area or beyond 16384 pixels a side.
  TCpuUsage(const GraphBounds& bounds, ActivityCounters& counters);

  // Processor usage in percent since the previous call, not clamped; the
  // first call measures against zero and gives 100. kFailedRead when the
  // counters cannot be read (nothing changes), kArithmeticFault when the
  // computation cannot be carried out.
  int32_t SampleCpu();
  // Disk activity in percent since the previous call, 0 to 100: the average
  // over the disks, correct for calls one second apart. The first call gives
  // 0, and so does a failed read.
  int32_t SampleDisk();

  void DrawCpu(int32_t value);
  void DrawDisk(int32_t value);

  // The finished graphs, W × H, copied whole by the window after each draw.
  const PixelImage& GetCpuGraph() const { return CpuGraph; }
  const PixelImage& GetDiskGraph() const { return DiskGraph; }
  const GraphBounds& GetBounds() const { return Bounds; }

private:
  void DrawGrid();
  void DrawSample(int32_t value, PixelImage& curve, PixelImage& graph, int32_t& phase, int32_t& last);
  int64_t RowOf(int32_t value) const;

  ActivityCounters& Counters;
  // Read once; serves for the life of the object.
  uint32_t ProcessorCount = 0;
  int64_t PrevIdleTime = 0;
  int64_t PrevSystemTime = 0;
  int32_t LastCpu = 0;
  int32_t LastDisk = 0;
  GraphBounds Bounds;
  int Width = 0;
  int Height = 0;
  PixelImage Grid;
  PixelImage CpuCurve;
  PixelImage CpuGraph;
  PixelImage DiskCurve;
  PixelImage DiskGraph;
  PixelImage Scratch;
  int32_t CpuPhase = 0;
  int32_t DiskPhase = 0;
  int64_t PrevDiskIdle = 0;
};

} // namespace quillo
