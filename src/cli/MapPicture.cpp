// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/MapPicture.h"

#include <cstdio>
#include <optional>

namespace quillo {

namespace {

struct LegendEntry {
  uint8_t Category;
  char Letter;
  const char* Caption;
};

// The window's legend captions; the MFT's own clusters have none there.
constexpr LegendEntry kLegend[] = {
    {mcFree, '.', "Free Space"},       {mcUsed, 'x', "Excluded"},
    {mcMftZone, 'z', "MFT"},           {mcFile, 'r', "Rarely Used"},
    {mcDirectory, 'd', "Directory"},   {mcFrequentFile, 'f', "Frequently Used"},
    {mcFragmented, '#', "Fragmented"}, {mcMft, 'm', "MFT records"},
    {mcTarget, 't', "Moving to"},
};

constexpr const char* kBlock = "\u2588";
constexpr const char* kReset = "\x1b[0m";
constexpr int kLegendPerLine = 4;

uint8_t Channel(MapColor color, int shift) {
  return uint8_t((color >> shift) & 0xFF);
}

// A pale cell is the full colour lightened half way to white.
MapColor Lightened(MapColor color) {
  auto lighten = [](uint8_t c) { return uint8_t(c + (255 - c) / 2); };
  return RgbColor(lighten(Channel(color, 16)), lighten(Channel(color, 8)),
                  lighten(Channel(color, 0)));
}

std::string Foreground(MapColor color) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "\x1b[38;2;%u;%u;%um", Channel(color, 16), Channel(color, 8),
                Channel(color, 0));
  return buffer;
}

} // namespace

MapPicture MapPicture::Capture(const TDefragMap& map) {
  MapPicture picture;
  picture.Columns = map.Columns();
  picture.Rows = map.Rows();
  for (int k = 0; k < kMapCategoryCount; ++k)
    picture.Colors[size_t(k)] = map.Color(uint8_t(k));
  const MapImage& image = map.GetImage();
  size_t cells = size_t(picture.Columns) * size_t(picture.Rows);
  picture.Categories.assign(cells, mcFree);
  picture.Pale.assign(cells, false);
  if (picture.Columns == 0 || picture.Rows == 0 || image.Width == 0) return picture;

  // A cell's bottom row carries most of its colour; matching it against the
  // bottom row of the prepared cell pictures tells category and paleness.
  int cellWidth = image.Width / picture.Columns;
  int cellHeight = image.Height / picture.Rows;
  for (int row = 0; row < picture.Rows; ++row) {
    for (int column = 0; column < picture.Columns; ++column) {
      MapColor pixel = image.Pixel(column * cellWidth, row * cellHeight + cellHeight - 1);
      size_t cell = size_t(row * picture.Columns + column);
      for (int k = 0; k < kMapCategoryCount; ++k) {
        for (bool pale : {false, true}) {
          const MapImage& bitmap = map.CellBitmap(uint8_t(k), pale);
          if (bitmap.Width > 0 && bitmap.Pixel(0, bitmap.Height - 1) == pixel) {
            picture.Categories[cell] = uint8_t(k);
            picture.Pale[cell] = pale;
          }
        }
      }
    }
  }
  return picture;
}

std::vector<std::string> MapPicture::DigitRows() const {
  std::vector<std::string> rows;
  for (int row = 0; row < Rows; ++row) {
    std::string line;
    for (int column = 0; column < Columns; ++column)
      line += char('0' + CategoryAt(column, row));
    rows.push_back(line);
  }
  return rows;
}

void MapPicture::Print(std::ostream& out, bool colour) const {
  std::array<bool, kMapCategoryCount> shown{};
  for (int row = 0; row < Rows; ++row) {
    std::optional<MapColor> current;
    for (int column = 0; column < Columns; ++column) {
      size_t cell = size_t(row * Columns + column);
      uint8_t category = Categories[cell];
      shown[category] = true;
      if (colour) {
        MapColor color = Pale[cell] ? Lightened(Colors[category]) : Colors[category];
        if (color != current) out << Foreground(color);
        current = color;
        out << kBlock;
      } else {
        out << kLegend[category].Letter;
      }
    }
    if (colour) out << kReset;
    out << "\n";
  }
  // The legend names the categories as the window does, in its order.
  std::vector<std::string> legend;
  for (const LegendEntry& entry : kLegend) {
    if (!shown[entry.Category] && entry.Category != mcFree) continue;
    std::string swatch = colour ? Foreground(Colors[entry.Category]) + kBlock + kReset
                                : std::string(1, entry.Letter);
    legend.push_back(swatch + " " + entry.Caption);
  }
  for (size_t i = 0; i < legend.size(); ++i) {
    bool lineEnds = (i + 1) % kLegendPerLine == 0 || i + 1 == legend.size();
    out << legend[i] << (lineEnds ? "\n" : "   ");
  }
}

} // namespace quillo
