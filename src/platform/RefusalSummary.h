// SPDX-License-Identifier: GPL-2.0-or-later
// A few words for a list's status column about a volume that cannot be
// used ("image missing", "not FAT32 or NTFS (ext4)"); the full reason goes
// with it in the row's tooltip.
#pragma once

#include <string>

namespace quillo {

struct RefusalSummary {
  std::string Brief;
  // The obstacle may go by itself (another program lets the volume go, the
  // volume is unmounted): worth looking again from time to time.
  bool Passing = false;
};

// `location` is the volume's as configured ("/srv/disk.img#2"), `why` the
// full reason the drive table gave.
RefusalSummary SummariseRefusal(const std::string& location, const std::string& why);

} // namespace quillo
