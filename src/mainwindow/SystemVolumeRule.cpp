// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/SystemVolumeRule.h"

#include <cctype>
#include <cstddef>

namespace quillo {

int FindSystemVolumeRow(char configuredLetter, const std::vector<ListedVolume>& rows) {
  auto upper = [](char c) { return std::toupper(static_cast<unsigned char>(c)); };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    bool match = configuredLetter != 0 ? upper(rows[i].Letter) == upper(configuredLetter)
                                       : rows[i].HoldsWindowsDirectory;
    if (match) return int(i);
  }
  return -1;
}

} // namespace quillo
