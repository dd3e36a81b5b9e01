// SPDX-License-Identifier: GPL-2.0-or-later
// What libblkid reads from a device or image: the file system's type and
// UUID, and the partitions of an MBR or GPT table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillo {

struct FileSystemTags {
  std::string Type;    // "vfat", "ntfs", ... empty when none was recognised
  std::string Uuid;    // "1234-ABCD"
  std::string Version; // "FAT32", ...
};

// Probes the whole of `path` (read-only, no locks).
FileSystemTags ProbeFileSystemTags(const std::string& path);
// Probes the byte window [offset, offset + length) of `path`.
FileSystemTags ProbeFileSystemTags(const std::string& path, uint64_t offset, uint64_t length);

struct DiskPartition {
  int Number = 0;        // 1-based, as the table numbers it
  uint64_t Offset = 0;   // bytes
  uint64_t Length = 0;
  int MbrType = 0;       // the MBR type byte (0x07, 0x0C, 0x42...); 0 on GPT
  std::string TypeGuid;  // the GPT type, lower case; empty on MBR
  bool Extended = false; // an MBR container of logical partitions
};

struct PartitionTable {
  std::string Scheme; // "MBR", "GPT", or libblkid's name of another kind
  std::vector<DiskPartition> Partitions;
};

// The partition table of the disk or disk image at `path`; empty when it
// has none or cannot be read.
std::optional<PartitionTable> ReadPartitionTable(const std::string& path);

// The byte window of partition `number` (1-based, as the table numbers
// them) of the disk or disk image at `path`. False with `why` when there is
// no such partition.
bool FindPartition(const std::string& path, int number, uint64_t& offset, uint64_t& length,
                   std::string& why);

} // namespace quillo
