// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace quillo {

// How the report lists are sorted: kept by the report window for the whole
// run of the program and shared by all its tabs. Every click on a column
// title flips the direction, so the first click sorts descending.
struct ReportSortOrder {
  int SortColumn = 0;
  bool SortDescending = false;
};

} // namespace quillo
