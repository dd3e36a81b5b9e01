// SPDX-License-Identifier: GPL-2.0-or-later
// The cluster map: the volume as a grid of cells, each cell coloured by the
// category that dominates the clusters it stands for. Counts are kept per
// category and cell by the job thread; the picture and the view belong to
// the UI thread. The job either hands every change over through the
// dispatcher and waits (PerCell), or only notes the latest drawing of each
// cell, the progress and the caption for the UI thread to apply at its own
// pace (Coalesced); both end in the same picture.
// No toolkit type appears here: the picture is a 32-bit pixel buffer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/DefragDefine.h"
#include "engine/UiDispatcher.h"

namespace quillo {

// 0xAARRGGBB, the layout of QImage::Format_RGB32.
using MapColor = uint32_t;
constexpr MapColor RgbColor(uint8_t r, uint8_t g, uint8_t b) {
  return 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

// A 32-bit pixel picture, row-major.
struct MapImage {
  int Width = 0;
  int Height = 0;
  std::vector<MapColor> Pixels;
  MapColor Pixel(int x, int y) const { return Pixels[size_t(y) * size_t(Width) + size_t(x)]; }
};

// Told, on the UI thread, what the hand-over changed, so that a window can
// repaint only those cells.
class MapView {
public:
  virtual ~MapView() = default;
  virtual void CellPainted(int x, int y) = 0;
  virtual void ProgressChanged(uint32_t value) = 0;
  virtual void CaptionChanged(const std::string& text) = 0;
};

class TDefragMap {
public:
  static constexpr int kMapWidth = 592;
  static constexpr int kMapHeight = 176;
  static constexpr int kCellSize = 8;

  enum class DrawHandOver : uint8_t {
    PerCell,   // each drawing, progress and caption is handed over and waited for
    Coalesced, // noted for ApplyPendingChanges; the job never waits for them
  };

  TDefragMap(uint32_t totalClusters, UiDispatcher& dispatcher,
             DrawHandOver handOver = DrawHandOver::PerCell);

  void InitMap(int width, int height, int cellWidth, int cellHeight);
  // For a map made before its volume's size was known: the size, before
  // InitMap.
  void SetTotalClusters(uint32_t totalClusters) { Total = totalClusters; }
  void SetCategoryColor(MapColor color, uint8_t category);

  void AddRange(uint32_t start, uint32_t count, uint8_t category);
  void RemoveRange(uint32_t start, uint32_t count, uint8_t category);
  void AddExtents(const FILE_INFO& file, uint8_t category);
  void RemoveExtents(const FILE_INFO& file, uint8_t category);
  void ClearCategory(uint8_t category);

  void PaintRange(uint32_t start, uint32_t count, uint8_t category, bool pale);
  void PaintExtents(const FILE_INFO& file, uint8_t category, bool pale);
  void RefreshRange(uint32_t start, uint32_t count, bool pale);
  void RefreshExtents(const FILE_INFO& file, bool pale);
  uint8_t CellCategory(int x, int y) const;
  void ResetMap();

  void DrawCell(int x, int y, uint8_t category, bool pale);
  void SetProgress(uint32_t value);
  void SetCaption(const std::string& text);

  // UI thread, Coalesced: paints the cells drawn since the last call and
  // tells the view of them and of a changed progress or caption. True when
  // anything changed. The window calls it at a bounded rate and readers of
  // the final picture once more at the end; every hand-over the job still
  // makes (InitMap, ResetMap) applies what came before it.
  bool ApplyPendingChanges();

  // UI-thread readers (the window's polling and drawing).
  const MapImage& GetImage() const { return Image; }
  uint32_t GetProgressBar() const { return ProgressPosition.load(); }
  std::string GetLabel() const;
  void SetView(MapView* view) { View = view; }

  // Geometry and counts, for the engine and for tests.
  bool IsInitialized() const { return Initialized; }
  int Columns() const { return ColumnCount; }
  int Rows() const { return RowCount; }
  uint32_t CellCount() const { return Cells; }
  uint32_t ClustersPerCell() const { return PerCell; }
  uint32_t TotalClusters() const { return Total; }
  int32_t Count(uint8_t category, int x, int y) const;
  MapColor Color(uint8_t category) const { return Colors[category]; }
  const MapImage& CellBitmap(uint8_t category, bool pale) const;

private:
  template <typename Action> void WalkRun(uint64_t start, uint64_t count, Action action);
  void PaintCells(uint64_t start, uint64_t count, uint8_t category, bool pale);
  void PaintStep(); // runs on the UI thread
  void PaintCell(int x, int y, uint8_t category, bool pale); // UI thread
  void NoteDraw(size_t cell, uint8_t category, bool pale);
  bool InGrid(int x, int y) const { return x >= 0 && y >= 0 && x < ColumnCount && y < RowCount; }
  size_t CellIndex(int x, int y) const { return size_t(x) * size_t(RowCount) + size_t(y); }

  UiDispatcher& Dispatcher;
  const DrawHandOver HandOver;
  MapView* View = nullptr;
  bool Initialized = false;
  int MapWidth = 0;
  int MapHeight = 0;
  int CellWidth = 0;
  int CellHeight = 0;
  std::array<MapImage, kMapCategoryCount> CellBitmaps;
  std::array<MapImage, kMapCategoryCount> PaleBitmaps;
  std::array<MapColor, kMapCategoryCount> Colors{};
  uint32_t Total = 0;
  int RowCount = 0;
  int ColumnCount = 0;
  uint32_t Cells = 0;
  uint32_t PerCell = 1;
  std::array<std::vector<int32_t>, kMapCategoryCount> Counts; // [category][column*Rows+row]
  std::vector<MapColor> CellColor;
  std::vector<uint8_t> CellPale;
  MapImage Image;
  // Hand-over fields: one job thread drives a map at a time and each
  // hand-over completes before the next is prepared.
  int DrawX = 0;
  int DrawY = 0;
  uint8_t DrawCategory = 0;
  uint8_t DrawPale = 0;
  uint32_t Progress = 0;
  std::atomic<uint32_t> ProgressPosition{0};
  std::string CaptionText;
  mutable std::mutex LabelLock;
  std::string LabelText;
  // Coalesced: the latest drawing of each cell not yet applied (category,
  // kPendingPale for pale; kNoDraw for none), in the order cells were first
  // drawn, and whether the progress or caption changed since.
  std::mutex PendingLock;
  std::vector<uint8_t> PendingDraw;
  std::vector<uint32_t> PendingCells;
  std::vector<std::pair<uint32_t, uint8_t>> Applying; // UI thread's copy
  bool ProgressPending = false;
  bool CaptionPending = false;
  std::atomic<bool> ChangesPending{false};
};

} // namespace quillo
