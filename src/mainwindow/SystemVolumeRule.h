// SPDX-License-Identifier: GPL-2.0-or-later
// Which row of the volume list is the Windows system volume, the only one
// defragmented automatically.
#pragma once

#include <vector>

namespace quillo {

struct ListedVolume {
  char Letter = 0;
  bool HoldsWindowsDirectory = false;
};

// With a configured letter, the first row of that letter (either case) or
// none when it is not listed; without one, the first row whose volume
// holds a "Windows" directory at its root (the system partition of a
// machine that also starts Windows). -1 for none.
int FindSystemVolumeRow(char configuredLetter, const std::vector<ListedVolume>& rows);

} // namespace quillo
