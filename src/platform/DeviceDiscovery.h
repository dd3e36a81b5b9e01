// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillo {

struct UDisksBlock;

// A file system's name as the program names it, from libblkid's or
// UDisks2's type and version: "FAT32", "NTFS", "FAT16", or the type of any
// other ("ext4", "swap"); empty for none.
std::string NameFileSystem(const std::string& type, const std::string& version);
// A name of NameFileSystem's that the program works on.
bool IsFat32OrNtfs(const std::string& fileSystem);

// A block device that holds a file system: FAT32 or NTFS, or another that
// is listed with the reason it cannot be used.
struct DiscoveredVolume {
  std::string Name;       // "sdb1"
  std::string DevicePath; // "/dev/sdb1"
  std::string Uuid;       // the file system's, "1234-ABCD"
  // Known when the desktop's disk service named the device.
  std::string Label;
  std::string Model;      // its drive's
  std::string MountPoint; // the first one, when mounted
  std::string FileSystem; // "FAT32", "NTFS", "ext4", ...
  uint64_t SizeBytes = 0; // the device's, when known
};

// The block devices under `sysClassBlock` that libblkid finds a file system
// on, in name order. Removable media (the sysfs "removable" flag of the
// disk), loop and RAM devices are left out, and so are devices without a
// file system (a whole disk with a partition table, an empty partition).
std::vector<DiscoveredVolume> DiscoverVolumes(const std::filesystem::path& sysClassBlock,
                                              const std::filesystem::path& deviceFolder);

// The block devices UDisks2 describes with a file system, in name order.
// Left out, as above: removable media, devices it says to ignore, loop
// devices the system set up (HintSystem), and devices without a file
// system; a disk image a user attached through the desktop is offered.
std::vector<DiscoveredVolume> DiscoverVolumes(const std::vector<UDisksBlock>& blocks);

} // namespace quillo
