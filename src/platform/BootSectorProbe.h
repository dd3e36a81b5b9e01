// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "platform/BlockDevice.h"

namespace quillo {

enum class FileSystemKind { Unknown, Fat32, Ntfs };

// What the first sector of a volume says about it.
struct BootSectorFacts {
  FileSystemKind Kind = FileSystemKind::Unknown;
  std::string FileSystemName; // "FAT32", "NTFS", empty when neither
  uint32_t SerialNumber = 0;
  std::string Label;          // the boot sector's copy (FAT32 only)
  std::string Why;            // why neither file system was recognised
};

// FAT32 when the boot sector passes the FAT32 checks; NTFS when it carries
// the NTFS signature and a plausible sector size.
BootSectorFacts ReadBootSectorFacts(BlockDevice& device);

} // namespace quillo
