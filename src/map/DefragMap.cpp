// SPDX-License-Identifier: GPL-2.0-or-later
#include "map/DefragMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillo {

namespace {

constexpr MapColor kWhite = RgbColor(255, 255, 255);
constexpr uint32_t kProgressMax = 100;
constexpr double kGradientExponent = 0.9;
constexpr uint8_t kChannelMax = 255;
constexpr const char* kRootSuffix = ":\\";
constexpr const char* kInitMapError = "InitMap Error";
// A cell whose category below holds this many times its own clusters is
// passed over.
constexpr int64_t kDominanceFactor = 8;
// A pending drawing: the category, with this bit for pale; or none.
constexpr uint8_t kPendingPale = 0x80;
constexpr uint8_t kNoDraw = 0xFF;
// A cell's cached paleness that no drawing matches: it is painted afresh.
constexpr uint8_t kCellUnknown = 2;

constexpr std::array<MapColor, kMapCategoryCount> kCategoryColors = {
    RgbColor(208, 189, 204), // mcFree
    RgbColor(0, 0, 0),       // mcUsed
    RgbColor(255, 255, 51),  // mcMftZone
    RgbColor(102, 51, 255),  // mcFile
    RgbColor(17, 238, 51),   // mcDirectory
    RgbColor(0, 153, 0),     // mcFrequentFile
    RgbColor(255, 51, 51),   // mcFragmented
    RgbColor(221, 221, 17),  // mcMft
    RgbColor(51, 51, 255),   // mcTarget
};

constexpr int kRedShift = 16;
constexpr int kGreenShift = 8;
constexpr int kBlueShift = 0;
constexpr int kChannelShifts[] = {kRedShift, kGreenShift, kBlueShift};

int Channel(MapColor color, int shift) {
  return int((color >> shift) & 0xFFu);
}

MapColor WithChannels(const int (&channels)[3]) {
  return RgbColor(uint8_t(channels[0]), uint8_t(channels[1]), uint8_t(channels[2]));
}

double RoundHalfEven(double x) {
  double rounded = std::round(x);
  if (std::fabs(x - std::trunc(x)) == 0.5) rounded = 2.0 * std::round(x / 2.0);
  return rounded;
}

MapImage BlankImage(int width, int height) {
  MapImage image;
  image.Width = width;
  image.Height = height;
  image.Pixels.assign(size_t(width) * size_t(height), kWhite);
  return image;
}

// Vertical gradient over the whole bitmap: row T holds the start colour, and
// the colour reaches the end only at B, one past the last row.
void FillGradient(MapImage& bitmap, MapColor start, MapColor end) {
  const int top = 0;
  const int bottom = bitmap.Height;
  if (bottom <= top) return;
  for (int y = top; y <= bottom; ++y) {
    if (y >= bitmap.Height) break; // B itself lies outside the bitmap
    double t = double(y - top) / double(bottom - top);
    double f = std::pow(t, kGradientExponent);
    int channels[3];
    for (int i = 0; i < 3; ++i) {
      int from = Channel(start, kChannelShifts[i]);
      int to = Channel(end, kChannelShifts[i]);
      int value = from + int(RoundHalfEven(double(to - from) * f));
      channels[i] = std::clamp(value, 0, int(kChannelMax));
    }
    std::fill_n(bitmap.Pixels.begin() + ptrdiff_t(y) * bitmap.Width, bitmap.Width,
                WithChannels(channels));
  }
}

void LightenBitmap(MapImage& bitmap) {
  for (MapColor& pixel : bitmap.Pixels) {
    int channels[3];
    for (int i = 0; i < 3; ++i) {
      int c = Channel(pixel, kChannelShifts[i]);
      channels[i] = c + (kChannelMax - c) / 2;
    }
    pixel = WithChannels(channels);
  }
}

int32_t SaturatedAdd(int32_t count, int64_t delta) {
  int64_t sum = int64_t(count) + delta;
  sum = std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                            std::numeric_limits<int32_t>::max());
  return int32_t(sum);
}

bool ValidCategory(uint8_t category) {
  return category < kMapCategoryCount;
}

size_t UsableExtents(const FILE_INFO& file) {
  return std::min<size_t>(file.ExtentCount, file.Extents.size());
}

} // namespace

TDefragMap::TDefragMap(uint32_t totalClusters, UiDispatcher& dispatcher, DrawHandOver handOver)
    : Dispatcher(dispatcher), HandOver(handOver), Total(totalClusters) {}

void TDefragMap::InitMap(int width, int height, int cellWidth, int cellHeight) {
  if (cellWidth <= 0 || cellHeight <= 0 || width < cellWidth || height < cellHeight)
    throw DefragError(kInitMapError);

  Initialized = true;
  MapWidth = width;
  MapHeight = height;
  CellWidth = cellWidth;
  CellHeight = cellHeight;
  for (int k = 0; k < kMapCategoryCount; ++k) {
    CellBitmaps[k] = BlankImage(cellWidth, cellWidth);
    PaleBitmaps[k] = BlankImage(cellWidth, cellWidth);
  }
  for (int k = 0; k < kMapCategoryCount; ++k)
    SetCategoryColor(kCategoryColors[k], uint8_t(k));

  ColumnCount = width / cellWidth;
  RowCount = height / cellHeight;
  Cells = uint32_t(ColumnCount) * uint32_t(RowCount);
  // Rounded up, so that the cells cover the whole volume.
  PerCell = Total == 0 ? 1 : (Total - 1) / Cells + 1;
  uint64_t covered = uint64_t(Cells) * PerCell;
  Total = uint32_t(std::min<uint64_t>(covered, std::numeric_limits<uint32_t>::max()));

  for (auto& grid : Counts)
    grid.assign(Cells, 0);
  Dispatcher.RunAndWait([this] {
    Image = BlankImage(MapWidth, MapHeight);
    CellColor.assign(Cells, 0);
    CellPale.assign(Cells, 0);
    // Drawings noted for another grid mean nothing on this one.
    std::lock_guard<std::mutex> guard(PendingLock);
    PendingDraw.assign(Cells, kNoDraw);
    PendingCells.clear();
  });

  ResetMap();
}

void TDefragMap::SetCategoryColor(MapColor color, uint8_t category) {
  if (!ValidCategory(category)) return;
  Colors[category] = color;
  FillGradient(CellBitmaps[category], kWhite, color);
  FillGradient(PaleBitmaps[category], kWhite, color);
  LightenBitmap(PaleBitmaps[category]);
}

template <typename Action> void TDefragMap::WalkRun(uint64_t start, uint64_t count, Action action) {
  // 64-bit, so that a run ending past the last cluster number neither wraps
  // nor escapes the grid: whatever lies beyond the last cell is dropped.
  while (count > 0) {
    uint64_t q = start / PerCell;
    if (q >= Cells) return;
    uint64_t n = PerCell - start % PerCell;
    if (n > count) n = count;
    action(int(q % uint64_t(ColumnCount)), int(q / uint64_t(ColumnCount)), uint32_t(n));
    start += n;
    count -= n;
  }
}

void TDefragMap::AddRange(uint32_t start, uint32_t count, uint8_t category) {
  if (!ValidCategory(category)) return;
  WalkRun(start, count, [&](int x, int y, uint32_t n) {
    int32_t& cell = Counts[category][CellIndex(x, y)];
    cell = SaturatedAdd(cell, n);
  });
}

void TDefragMap::RemoveRange(uint32_t start, uint32_t count, uint8_t category) {
  if (!ValidCategory(category)) return;
  WalkRun(start, count, [&](int x, int y, uint32_t n) {
    int32_t& cell = Counts[category][CellIndex(x, y)];
    cell = SaturatedAdd(cell, -int64_t(n));
  });
}

void TDefragMap::AddExtents(const FILE_INFO& file, uint8_t category) {
  for (size_t i = 0; i < UsableExtents(file); ++i)
    AddRange(file.Extents[i].Lcn, file.Extents[i].Length, category);
}

void TDefragMap::RemoveExtents(const FILE_INFO& file, uint8_t category) {
  for (size_t i = 0; i < UsableExtents(file); ++i)
    RemoveRange(file.Extents[i].Lcn, file.Extents[i].Length, category);
}

void TDefragMap::ClearCategory(uint8_t category) {
  if (!ValidCategory(category)) return;
  std::fill(Counts[category].begin(), Counts[category].end(), 0);
}

void TDefragMap::PaintRange(uint32_t start, uint32_t count, uint8_t category, bool pale) {
  PaintCells(start, count, category, pale);
}

void TDefragMap::PaintCells(uint64_t start, uint64_t count, uint8_t category, bool pale) {
  if (!Initialized || count == 0 || !ValidCategory(category)) return;
  WalkRun(start, count, [&](int x, int y, uint32_t) { DrawCell(x, y, category, pale); });
}

void TDefragMap::PaintExtents(const FILE_INFO& file, uint8_t category, bool pale) {
  for (size_t i = 0; i < UsableExtents(file); ++i)
    PaintRange(file.Extents[i].Lcn, file.Extents[i].Length, category, pale);
}

void TDefragMap::RefreshRange(uint32_t start, uint32_t count, bool pale) {
  if (!Initialized || count == 0) return;
  WalkRun(start, count, [&](int x, int y, uint32_t) { DrawCell(x, y, CellCategory(x, y), pale); });
}

void TDefragMap::RefreshExtents(const FILE_INFO& file, bool pale) {
  for (size_t i = 0; i < UsableExtents(file); ++i)
    RefreshRange(file.Extents[i].Lcn, file.Extents[i].Length, pale);
}

uint8_t TDefragMap::CellCategory(int x, int y) const {
  if (!InGrid(x, y)) return mcFree;
  size_t cell = CellIndex(x, y);
  // Higher codes win as soon as they hold clusters, unless the category just
  // below holds eight times as many, or a negative count.
  for (int k = kMapCategoryCount - 1; k >= 1; --k) {
    int64_t below = Counts[k - 1][cell];
    int64_t here = Counts[k][cell];
    if (below >= 0 && below < kDominanceFactor * here) return uint8_t(k);
  }
  return mcFree;
}

void TDefragMap::ResetMap() {
  for (int k = 0; k < kMapCategoryCount; ++k)
    ClearCategory(uint8_t(k));
  if (!Initialized) return;
  // No cached cell may match whatever is drawn next, the free picture
  // painted below or, coalesced, a later drawing that replaced it.
  Dispatcher.RunAndWait([this] {
    ApplyPendingChanges();
    std::fill(CellPale.begin(), CellPale.end(), kCellUnknown);
  });
  PaintCells(0, uint64_t(PerCell) * Cells, mcFree, false);
  SetProgress(0);
  if (!CaptionText.empty()) SetCaption(std::string(1, CaptionText[0]) + kRootSuffix);
}

void TDefragMap::DrawCell(int x, int y, uint8_t category, bool pale) {
  if (!Initialized || !InGrid(x, y) || !ValidCategory(category)) return;
  if (HandOver == DrawHandOver::Coalesced) {
    NoteDraw(CellIndex(x, y), category, pale);
    return;
  }
  DrawX = x;
  DrawY = y;
  DrawCategory = category;
  DrawPale = pale ? 1 : 0;
  Dispatcher.RunAndWait([this] { PaintStep(); });
}

void TDefragMap::NoteDraw(size_t cell, uint8_t category, bool pale) {
  std::lock_guard<std::mutex> guard(PendingLock);
  if (cell >= PendingDraw.size()) return;
  if (PendingDraw[cell] == kNoDraw) PendingCells.push_back(uint32_t(cell));
  PendingDraw[cell] = uint8_t(category | (pale ? kPendingPale : 0));
  ChangesPending.store(true, std::memory_order_release);
}

bool TDefragMap::ApplyPendingChanges() {
  if (!ChangesPending.load(std::memory_order_acquire)) return false;
  bool progress = false;
  bool caption = false;
  Applying.clear();
  {
    std::lock_guard<std::mutex> guard(PendingLock);
    for (uint32_t cell : PendingCells) {
      Applying.emplace_back(cell, PendingDraw[cell]);
      PendingDraw[cell] = kNoDraw;
    }
    PendingCells.clear();
    std::swap(progress, ProgressPending);
    std::swap(caption, CaptionPending);
    ChangesPending.store(false, std::memory_order_relaxed);
  }
  // Only a cell's latest drawing counts: each one covers the whole cell.
  for (const auto& [cell, draw] : Applying)
    PaintCell(int(cell / uint32_t(RowCount)), int(cell % uint32_t(RowCount)),
              uint8_t(draw & ~kPendingPale), (draw & kPendingPale) != 0);
  if (View != nullptr && progress) View->ProgressChanged(ProgressPosition.load());
  if (View != nullptr && caption) View->CaptionChanged(GetLabel());
  return !Applying.empty() || progress || caption;
}

void TDefragMap::PaintStep() { PaintCell(DrawX, DrawY, DrawCategory, DrawPale != 0); }

void TDefragMap::PaintCell(int x, int y, uint8_t category, bool pale) {
  size_t cell = CellIndex(x, y);
  if (cell >= CellColor.size()) return;
  MapColor color = Colors[category];
  uint8_t paleFlag = pale ? 1 : 0;
  if (CellPale[cell] == paleFlag && CellColor[cell] == color) return;
  CellPale[cell] = paleFlag;
  CellColor[cell] = color;

  const MapImage& source = pale ? PaleBitmaps[category] : CellBitmaps[category];
  const int left = x * CellWidth;
  const int top = y * CellHeight;
  if (source.Pixels.empty() || left + CellWidth > Image.Width || top + CellHeight > Image.Height)
    return;
  // The cell pictures are square; a taller or flatter cell is stretched.
  for (int row = 0; row < CellHeight; ++row) {
    int sourceRow = row * source.Height / CellHeight;
    for (int col = 0; col < CellWidth; ++col) {
      int sourceCol = col * source.Width / CellWidth;
      Image.Pixels[size_t(top + row) * size_t(Image.Width) + size_t(left + col)] =
          source.Pixel(sourceCol, sourceRow);
    }
  }
  if (View != nullptr) View->CellPainted(x, y);
}

void TDefragMap::SetProgress(uint32_t value) {
  if (!Initialized || value == Progress) return;
  Progress = value;
  if (HandOver == DrawHandOver::Coalesced) {
    ProgressPosition.store(std::min(value, kProgressMax));
    std::lock_guard<std::mutex> guard(PendingLock);
    ProgressPending = true;
    ChangesPending.store(true, std::memory_order_release);
    return;
  }
  Dispatcher.RunAndWait([this, value] {
    uint32_t position = std::min(value, kProgressMax);
    ProgressPosition.store(position);
    if (View != nullptr) View->ProgressChanged(position);
  });
}

void TDefragMap::SetCaption(const std::string& text) {
  if (!Initialized) return;
  CaptionText = text;
  if (HandOver == DrawHandOver::Coalesced) {
    {
      std::lock_guard<std::mutex> guard(LabelLock);
      LabelText = text;
    }
    std::lock_guard<std::mutex> guard(PendingLock);
    CaptionPending = true;
    ChangesPending.store(true, std::memory_order_release);
    return;
  }
  Dispatcher.RunAndWait([this, &text] {
    {
      std::lock_guard<std::mutex> guard(LabelLock);
      LabelText = text;
    }
    if (View != nullptr) View->CaptionChanged(text);
  });
}

std::string TDefragMap::GetLabel() const {
  std::lock_guard<std::mutex> guard(LabelLock);
  return LabelText;
}

int32_t TDefragMap::Count(uint8_t category, int x, int y) const {
  if (!ValidCategory(category) || !InGrid(x, y)) return 0;
  return Counts[category][CellIndex(x, y)];
}

const MapImage& TDefragMap::CellBitmap(uint8_t category, bool pale) const {
  return pale ? PaleBitmaps.at(category) : CellBitmaps.at(category);
}

} // namespace quillo
