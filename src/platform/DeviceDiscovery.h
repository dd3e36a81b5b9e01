// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quillo {

// A block device that holds a FAT32 or NTFS volume.
struct DiscoveredVolume {
  std::string Name;       // "sdb1"
  std::string DevicePath; // "/dev/sdb1"
  std::string Uuid;       // the file system's, "1234-ABCD"
};

// The block devices under `sysClassBlock` whose file system libblkid
// reports as FAT32 or NTFS, in name order. Removable media (the sysfs
// "removable" flag of the disk), loop and RAM devices are left out.
std::vector<DiscoveredVolume> DiscoverVolumes(const std::filesystem::path& sysClassBlock,
                                              const std::filesystem::path& deviceFolder);

} // namespace quillo
