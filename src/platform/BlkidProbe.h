// SPDX-License-Identifier: GPL-2.0-or-later
// What libblkid reads from a device or image: the file system's type and
// UUID, and the partitions of an MBR or GPT table.
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

struct FileSystemTags {
  std::string Type;    // "vfat", "ntfs", ... empty when none was recognised
  std::string Uuid;    // "1234-ABCD"
  std::string Version; // "FAT32", ...
};

// Probes the whole of `path` (read-only, no locks).
FileSystemTags ProbeFileSystemTags(const std::string& path);

// The byte window of partition `number` (1-based, as the table numbers
// them) of the disk or disk image at `path`. False with `why` when there is
// no such partition.
bool FindPartition(const std::string& path, int number, uint64_t& offset, uint64_t& length,
                   std::string& why);

} // namespace quillo
