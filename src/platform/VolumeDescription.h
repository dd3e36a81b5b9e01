// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

// What the desktop's disk service tells of a volume it would open only after
// asking the user: enough to list the volume before anyone has looked at it.
struct VolumeDescription {
  std::string FileSystemName; // "FAT32", "NTFS", or what it is otherwise ("ext4")
  std::string Label;
  uint64_t TotalBytes = 0;    // the device's size
  bool Known() const { return !FileSystemName.empty(); }
};

} // namespace quillo
