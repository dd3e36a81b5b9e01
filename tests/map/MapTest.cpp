// SPDX-License-Identifier: GPL-2.0-or-later
#include "map/DefragMap.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/DefragDefine.h"

namespace quillo {
namespace {

constexpr int kColumns = 74;
constexpr int kRows = 22;
constexpr uint32_t kCells = 1628;

// Counts hand-overs; can also swallow the steps, to show that nothing
// reaches the picture, the progress or the caption any other way.
class RecordingDispatcher final : public UiDispatcher {
public:
  void RunAndWait(const std::function<void()>& step) override {
    ++Calls;
    if (!RunSteps) return;
    Inside = true;
    step();
    Inside = false;
  }
  int Calls = 0;
  bool Inside = false;
  bool RunSteps = true;
};

// Records what the map reports, and that it reports it inside a step.
class RecordingView final : public MapView {
public:
  explicit RecordingView(const RecordingDispatcher& dispatcher) : Dispatcher(dispatcher) {}
  void CellPainted(int x, int y) override {
    EXPECT_TRUE(Dispatcher.Inside);
    Cells.emplace_back(x, y);
  }
  void ProgressChanged(uint32_t value) override {
    EXPECT_TRUE(Dispatcher.Inside);
    Progress.push_back(value);
  }
  void CaptionChanged(const std::string& text) override {
    EXPECT_TRUE(Dispatcher.Inside);
    Captions.push_back(text);
  }
  void Forget() {
    Cells.clear();
    Progress.clear();
    Captions.clear();
  }
  std::vector<std::pair<int, int>> Cells;
  std::vector<uint32_t> Progress;
  std::vector<std::string> Captions;

private:
  const RecordingDispatcher& Dispatcher;
};

struct MapRig {
  explicit MapRig(uint32_t totalClusters, bool init = true) : Map(totalClusters, Dispatcher) {
    Map.SetView(&View);
    if (init)
      Map.InitMap(TDefragMap::kMapWidth, TDefragMap::kMapHeight, TDefragMap::kCellSize,
                  TDefragMap::kCellSize);
    View.Forget();
    Dispatcher.Calls = 0;
  }
  RecordingDispatcher Dispatcher;
  RecordingView View{Dispatcher};
  TDefragMap Map;
};

FILE_INFO MakeFile(std::vector<EXTENT_INFO> extents) {
  FILE_INFO file;
  file.Name = "C:\\file";
  file.ExtentCount = uint32_t(extents.size());
  for (const auto& e : extents)
    file.Clusters += e.Length;
  file.Extents = std::move(extents);
  return file;
}

// (x, y, count) of every cell where the category holds something.
std::vector<std::tuple<int, int, int32_t>> NonZero(const TDefragMap& map, uint8_t category) {
  std::vector<std::tuple<int, int, int32_t>> out;
  for (int y = 0; y < map.Rows(); ++y)
    for (int x = 0; x < map.Columns(); ++x)
      if (int32_t c = map.Count(category, x, y); c != 0) out.emplace_back(x, y, c);
  return out;
}

// The cell's rectangle on the picture holds exactly this bitmap.
bool CellShows(const TDefragMap& map, int x, int y, const MapImage& bitmap) {
  const MapImage& image = map.GetImage();
  for (int row = 0; row < TDefragMap::kCellSize; ++row)
    for (int col = 0; col < TDefragMap::kCellSize; ++col)
      if (image.Pixel(x * TDefragMap::kCellSize + col, y * TDefragMap::kCellSize + row) !=
          bitmap.Pixel(col, row))
        return false;
  return true;
}

// ------------------------------------------------------------------ geometry

TEST(TDefragMapTest, InitMapRoundsClustersPerCellUpToCoverTheVolume) {
  struct Case {
    uint32_t Total;
    uint32_t PerCell;
    uint32_t Rounded;
  };
  const Case cases[] = {
      {kCells * 1, 1, kCells * 1},
      {kCells * 1 + 1, 2, kCells * 2},
      {kCells * 7, 7, kCells * 7},
      {kCells * 7 + 1, 8, kCells * 8},
      {kCells * 1000, 1000, kCells * 1000},
      {kCells * 1000 + 1, 1001, kCells * 1001},
      {5, 1, kCells},
      {0, 1, kCells},
      // Rounding would pass the 32-bit range: the count saturates.
      {UINT32_MAX, 2638187, UINT32_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("total " + std::to_string(c.Total));
    MapRig rig(c.Total, false);
    rig.Map.InitMap(592, 176, 8, 8);
    EXPECT_EQ(rig.Map.Columns(), kColumns);
    EXPECT_EQ(rig.Map.Rows(), kRows);
    EXPECT_EQ(rig.Map.CellCount(), kCells);
    EXPECT_EQ(rig.Map.ClustersPerCell(), c.PerCell);
    EXPECT_EQ(rig.Map.TotalClusters(), c.Rounded);
    EXPECT_EQ(rig.Map.GetImage().Width, 592);
    EXPECT_EQ(rig.Map.GetImage().Height, 176);
    // The reset inside InitMap reaches every cell, the last one included.
    ASSERT_EQ(rig.View.Cells.size(), kCells);
    EXPECT_EQ(rig.View.Cells.back(), std::make_pair(kColumns - 1, kRows - 1));
  }
}

TEST(TDefragMapTest, InitMapRejectsAGeometryWithoutCells) {
  RecordingDispatcher dispatcher;
  TDefragMap map(1000, dispatcher);
  EXPECT_THROW(map.InitMap(592, 176, 0, 8), DefragError);
  EXPECT_THROW(map.InitMap(4, 176, 8, 8), DefragError);
  EXPECT_FALSE(map.IsInitialized());
  EXPECT_EQ(dispatcher.Calls, 0);
}

// ------------------------------------------------------------------ counting

TEST(TDefragMapTest, RunsAreSplitExactlyAtCellBorders) {
  constexpr uint32_t kPerCell = 16;
  MapRig rig(kCells * kPerCell);
  ASSERT_EQ(rig.Map.ClustersPerCell(), kPerCell);
  using Cells = std::vector<std::tuple<int, int, int32_t>>;

  // 10 clusters from 3 before the border between the last cell of row 0 and
  // the first of row 1.
  const uint32_t border = kColumns * kPerCell;
  rig.Map.AddRange(border - 3, 10, mcFile);
  EXPECT_EQ(NonZero(rig.Map, mcFile), (Cells{{kColumns - 1, 0, 3}, {0, 1, 7}}));

  // A longer run: a partial cell, a whole one, a partial one.
  rig.Map.AddRange(5, 40, mcUsed);
  EXPECT_EQ(NonZero(rig.Map, mcUsed), (Cells{{0, 0, 11}, {1, 0, 16}, {2, 0, 13}}));

  rig.Map.RemoveRange(border - 3, 10, mcFile);
  EXPECT_EQ(NonZero(rig.Map, mcFile), Cells{});

  FILE_INFO file = MakeFile({{20, 4}, {40, 30}});
  rig.Map.AddExtents(file, mcFragmented);
  EXPECT_EQ(NonZero(rig.Map, mcFragmented), (Cells{{1, 0, 4}, {2, 0, 8}, {3, 0, 16}, {4, 0, 6}}));
  rig.Map.RemoveExtents(file, mcFragmented);
  rig.Map.RemoveRange(0, 2, mcFragmented);
  EXPECT_EQ(NonZero(rig.Map, mcFragmented), (Cells{{0, 0, -2}}));

  rig.Map.ClearCategory(mcUsed);
  EXPECT_EQ(NonZero(rig.Map, mcUsed), Cells{});
  EXPECT_EQ(rig.Dispatcher.Calls, 0); // counting paints nothing
}

TEST(TDefragMapTest, RunsBeyondTheGridAreClipped) {
  constexpr uint32_t kPerCell = 16;
  MapRig rig(kCells * kPerCell);
  const uint32_t end = rig.Map.TotalClusters();
  using Cells = std::vector<std::tuple<int, int, int32_t>>;

  rig.Map.AddRange(end - 5, 100, mcFile);
  rig.Map.AddRange(end, 10, mcFile);
  rig.Map.AddRange(UINT32_MAX - 2, 10, mcFile); // would wrap to cluster 0 in 32 bits
  rig.Map.RemoveRange(UINT32_MAX, UINT32_MAX, mcFile);
  EXPECT_EQ(NonZero(rig.Map, mcFile), (Cells{{kColumns - 1, kRows - 1, 5}}));

  rig.Map.PaintRange(end - 5, 100, mcTarget, false);
  rig.Map.RefreshRange(end - 1, 50, true);
  rig.Map.PaintRange(UINT32_MAX - 2, 10, mcTarget, false);
  rig.Map.RefreshRange(end, UINT32_MAX, false);
  using Painted = std::vector<std::pair<int, int>>;
  EXPECT_EQ(rig.View.Cells, (Painted{{kColumns - 1, kRows - 1}, {kColumns - 1, kRows - 1}}));
  EXPECT_TRUE(CellShows(rig.Map, kColumns - 1, kRows - 1, rig.Map.CellBitmap(mcFile, true)));

  // Cells named outside the grid are ignored.
  rig.View.Forget();
  rig.Map.DrawCell(kColumns, 0, mcFile, false);
  rig.Map.DrawCell(0, -1, mcFile, false);
  rig.Map.DrawCell(0, 0, kMapCategoryCount, false);
  EXPECT_TRUE(rig.View.Cells.empty());
  EXPECT_EQ(rig.Map.CellCategory(-1, 0), mcFree);
  EXPECT_EQ(rig.Map.Count(mcFile, kColumns, kRows), 0);
}

TEST(TDefragMapTest, CellCategoryPicksTheDominantCategory) {
  struct Case {
    const char* Name;
    std::vector<std::pair<uint8_t, int32_t>> Counts;
    uint8_t Expected;
  };
  const Case cases[] = {
      {"empty cell is free", {}, mcFree},
      {"one fragmented cluster beats 1000 used", {{mcUsed, 1000}, {mcFragmented, 1}}, mcFragmented},
      {"100 frequent against 12 fragmented (100 >= 96)",
       {{mcFrequentFile, 100}, {mcFragmented, 12}},
       mcFrequentFile},
      {"100 frequent against 13 fragmented (100 < 104)",
       {{mcFrequentFile, 100}, {mcFragmented, 13}},
       mcFragmented},
      {"exactly eight times as many below", {{mcUsed, 1000}, {mcMftZone, 125}}, mcUsed},
      {"just under eight times", {{mcUsed, 1000}, {mcMftZone, 126}}, mcMftZone},
      {"only the category directly below counts",
       {{mcFile, 1000}, {mcFragmented, 1}},
       mcFragmented},
      {"used only", {{mcUsed, 5}}, mcUsed},
      {"negative count loses", {{mcFrequentFile, 10}, {mcFragmented, -5}}, mcFrequentFile},
      {"negative count blocks the one above", {{mcFile, -1}, {mcDirectory, 5}}, mcFree},
      {"a higher category still wins", {{mcFile, -1}, {mcDirectory, 5}, {mcTarget, 1}}, mcTarget},
  };
  constexpr uint32_t kPerCell = 2000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    MapRig rig(kCells * kPerCell);
    // Cell (1, 0) starts at cluster kPerCell.
    for (const auto& [category, count] : c.Counts) {
      if (count >= 0)
        rig.Map.AddRange(kPerCell, uint32_t(count), category);
      else
        rig.Map.RemoveRange(kPerCell, uint32_t(-count), category);
    }
    EXPECT_EQ(int(rig.Map.CellCategory(1, 0)), int(c.Expected));
    EXPECT_EQ(int(rig.Map.CellCategory(0, 0)), int(mcFree));
  }
}

// ------------------------------------------------------------------ pictures

using Rgb = std::array<int, 3>;

Rgb ToRgb(MapColor color) {
  return {int(color >> 16 & 0xFF), int(color >> 8 & 0xFF), int(color & 0xFF)};
}

TEST(TDefragMapTest, CellPicturesAreExactGradients) {
  // f = (row / 8) ^ 0.9 = 0, .154, .287, .414, .536, .655, .772, .887; each
  // channel 255 + round((end - 255) * f); pale: c + (255 - c) div 2.
  struct Case {
    const char* Name;
    uint8_t Category;
    bool Pale;
    std::array<Rgb, 8> Rows;
  };
  const Case cases[] = {
      {"rarely used (102, 51, 255)",
       mcFile,
       false,
       {{{255, 255, 255},
         {231, 224, 255},
         {211, 196, 255},
         {192, 171, 255},
         {173, 146, 255},
         {155, 121, 255},
         {137, 98, 255},
         {119, 74, 255}}}},
      {"rarely used, pale",
       mcFile,
       true,
       {{{255, 255, 255},
         {243, 239, 255},
         {233, 225, 255},
         {223, 213, 255},
         {214, 200, 255},
         {205, 188, 255},
         {196, 176, 255},
         {187, 164, 255}}}},
      {"fragmented (255, 51, 51), pale",
       mcFragmented,
       true,
       {{{255, 255, 255},
         {255, 239, 239},
         {255, 225, 225},
         {255, 213, 213},
         {255, 200, 200},
         {255, 188, 188},
         {255, 176, 176},
         {255, 164, 164}}}},
  };
  MapRig rig(kCells);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const MapImage& bitmap = rig.Map.CellBitmap(c.Category, c.Pale);
    ASSERT_EQ(bitmap.Width, 8);
    ASSERT_EQ(bitmap.Height, 8);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        ASSERT_EQ(ToRgb(bitmap.Pixel(x, y)), c.Rows[y]) << "row " << y << " column " << x;

    rig.Map.DrawCell(5, 3, c.Category, c.Pale);
    EXPECT_TRUE(CellShows(rig.Map, 5, 3, bitmap));
  }

  // A new colour rebuilds both pictures; row 7 carries 88.7 % of black.
  rig.Map.SetCategoryColor(RgbColor(0, 0, 0), mcFile);
  EXPECT_EQ(rig.Map.Color(mcFile), RgbColor(0, 0, 0));
  EXPECT_EQ(ToRgb(rig.Map.CellBitmap(mcFile, false).Pixel(0, 7)), (Rgb{29, 29, 29}));
  EXPECT_EQ(ToRgb(rig.Map.CellBitmap(mcFile, true).Pixel(0, 7)), (Rgb{142, 142, 142}));
}

TEST(TDefragMapTest, PaintingUsesTheCellCacheButAlwaysHandsOver) {
  MapRig rig(kCells * 4);
  struct Step {
    uint8_t Category;
    bool Pale;
    bool Drawn;
  };
  const Step steps[] = {
      {mcFile, false, true},  {mcFile, false, false}, {mcFile, true, true},   {mcFile, true, false},
      {mcTarget, true, true}, {mcFree, false, true},  {mcFree, false, false},
  };
  int calls = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(calls));
    rig.View.Forget();
    rig.Map.DrawCell(2, 1, s.Category, s.Pale);
    EXPECT_EQ(rig.Dispatcher.Calls, ++calls);
    EXPECT_EQ(rig.View.Cells.size(), s.Drawn ? 1u : 0u);
    EXPECT_TRUE(CellShows(rig.Map, 2, 1, rig.Map.CellBitmap(s.Category, s.Pale)));
  }

  // The cache compares colours: a recoloured category repaints.
  rig.Map.DrawCell(2, 1, mcFile, false);
  rig.View.Forget();
  rig.Map.SetCategoryColor(RgbColor(1, 2, 3), mcFile);
  rig.Map.DrawCell(2, 1, mcFile, false);
  EXPECT_EQ(rig.View.Cells.size(), 1u);

  // Refreshing paints each touched cell in its dominant category.
  rig.Map.AddRange(0, 6, mcUsed);
  rig.Map.AddRange(5, 1, mcDirectory);
  rig.Map.RefreshRange(0, 8, true);
  EXPECT_TRUE(CellShows(rig.Map, 0, 0, rig.Map.CellBitmap(mcUsed, true)));
  EXPECT_TRUE(CellShows(rig.Map, 1, 0, rig.Map.CellBitmap(mcDirectory, true)));
}

TEST(TDefragMapTest, ProgressAndCaptionAreHandedOver) {
  MapRig rig(kCells);
  rig.Map.SetProgress(40);
  rig.Map.SetProgress(40); // unchanged: no hand-over
  rig.Map.SetProgress(150);
  EXPECT_EQ(rig.Dispatcher.Calls, 2);
  EXPECT_EQ(rig.Map.GetProgressBar(), 100u); // the holder's range ends at 100
  EXPECT_EQ(rig.View.Progress, (std::vector<uint32_t>{40, 100}));

  rig.Map.SetCaption("C:\\a");
  rig.Map.SetCaption("C:\\a"); // always handed over
  EXPECT_EQ(rig.Dispatcher.Calls, 4);
  EXPECT_EQ(rig.Map.GetLabel(), "C:\\a");
  EXPECT_EQ(rig.View.Captions, (std::vector<std::string>{"C:\\a", "C:\\a"}));
}

TEST(TDefragMapTest, ResetMapClearsCountsPaintsFreeAndReturnsTheCaptionToTheRoot) {
  MapRig rig(kCells * 4);
  rig.Map.AddRange(0, 400, mcFile);
  rig.Map.PaintRange(0, 400, mcFile, false);
  rig.Map.PaintRange(4000, 8, mcTarget, true);
  rig.Map.SetProgress(55);
  rig.Map.SetCaption("D:\\games\\save.dat");
  rig.View.Forget();

  rig.Map.ResetMap();
  EXPECT_EQ(NonZero(rig.Map, mcFile).size(), 0u);
  EXPECT_EQ(rig.View.Cells.size(), kCells); // the cache was voided first
  for (int y = 0; y < kRows; ++y)
    for (int x = 0; x < kColumns; ++x)
      ASSERT_TRUE(CellShows(rig.Map, x, y, rig.Map.CellBitmap(mcFree, false))) << x << "," << y;
  EXPECT_EQ(rig.Map.GetProgressBar(), 0u);
  EXPECT_EQ(rig.Map.GetLabel(), "D:\\");
  EXPECT_EQ(rig.View.Captions, (std::vector<std::string>{"D:\\"}));

  MapRig fresh(kCells);
  fresh.Map.ResetMap();
  EXPECT_EQ(fresh.Map.GetLabel(), "");
  EXPECT_TRUE(fresh.View.Captions.empty());
  EXPECT_TRUE(fresh.View.Progress.empty()); // already 0
}

TEST(TDefragMapTest, NothingIsShownBeforeInitMap) {
  MapRig rig(kCells * 4, false);
  FILE_INFO file = MakeFile({{0, 10}});
  rig.Map.SetProgress(30);
  rig.Map.SetCaption("C:\\x");
  rig.Map.PaintRange(0, 100, mcFile, false);
  rig.Map.PaintExtents(file, mcFile, false);
  rig.Map.RefreshRange(0, 100, false);
  rig.Map.RefreshExtents(file, true);
  rig.Map.DrawCell(0, 0, mcFile, false);
  rig.Map.AddRange(0, 100, mcFile);
  rig.Map.ResetMap();

  EXPECT_EQ(rig.Dispatcher.Calls, 0);
  EXPECT_EQ(rig.Map.GetProgressBar(), 0u);
  EXPECT_EQ(rig.Map.GetLabel(), "");
  EXPECT_TRUE(rig.Map.GetImage().Pixels.empty());
  EXPECT_EQ(rig.Map.CellCategory(0, 0), mcFree);

  // Initialising later starts from a clean map and an empty caption.
  rig.Map.InitMap(592, 176, 8, 8);
  EXPECT_EQ(rig.Map.Count(mcFile, 0, 0), 0);
  EXPECT_EQ(rig.Map.GetLabel(), "");
  EXPECT_TRUE(CellShows(rig.Map, 0, 0, rig.Map.CellBitmap(mcFree, false)));
}

TEST(TDefragMapTest, EveryVisibleChangeGoesThroughTheDispatcher) {
  MapRig rig(kCells * 4, false);
  rig.Dispatcher.RunSteps = false; // a UI thread that never runs anything
  rig.Map.InitMap(592, 176, 8, 8);
  // Allocation, voiding the cache, then one hand-over per cell.
  EXPECT_EQ(rig.Dispatcher.Calls, 2 + int(kCells));

  rig.Map.PaintRange(0, 12, mcFile, false); // 3 cells
  rig.Map.RefreshRange(0, 4, true);         // 1 cell
  rig.Map.DrawCell(3, 3, mcTarget, true);
  rig.Map.SetProgress(70);
  rig.Map.SetCaption("E:\\movie.mkv");
  rig.Map.ResetMap();
  EXPECT_EQ(rig.Dispatcher.Calls, 2 + int(kCells) + 3 + 1 + 1 + 1 + 1 + (1 + int(kCells) + 1 + 1));

  EXPECT_TRUE(rig.Map.GetImage().Pixels.empty());
  EXPECT_EQ(rig.Map.GetProgressBar(), 0u);
  EXPECT_EQ(rig.Map.GetLabel(), "");
  EXPECT_TRUE(rig.View.Cells.empty());
  EXPECT_TRUE(rig.View.Progress.empty());
  EXPECT_TRUE(rig.View.Captions.empty());
}

} // namespace
} // namespace quillo
