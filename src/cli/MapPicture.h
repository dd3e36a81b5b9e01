// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "map/DefragMap.h"

namespace quillo {

// What a volume's cluster map shows, cell by cell: the category each cell
// was painted in and whether pale, with the map's own colours.
struct MapPicture {
  int Columns = 0;
  int Rows = 0;
  std::vector<uint8_t> Categories; // row by row
  std::vector<bool> Pale;
  std::array<MapColor, kMapCategoryCount> Colors{};

  // Reads the picture back from the map's image. Only on the thread that
  // runs the map's hand-over.
  static MapPicture Capture(const TDefragMap& map);

  uint8_t CategoryAt(int column, int row) const {
    return Categories[size_t(row * Columns + column)];
  }
  // One line per row, one character per cell: the category's digit.
  std::vector<std::string> DigitRows() const;
  // The map on a terminal: coloured blocks, or a letter per category when
  // `colour` is false, followed by the legend of the categories shown.
  void Print(std::ostream& out, bool colour) const;
};

} // namespace quillo
