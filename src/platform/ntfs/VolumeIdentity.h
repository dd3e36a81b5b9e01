// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "platform/ntfs/BlockStorage.h"

namespace quillo {

// What names an NTFS volume and its layout, read from the boot sector. The
// journal is kept per volume under the serial number, and a journal is only
// ever replayed onto the volume it was written for.
struct VolumeIdentity {
  uint64_t SerialNumber = 0;
  uint64_t TotalSectors = 0;
  uint64_t MftLcn = 0;
  uint64_t MftMirrLcn = 0;
  uint32_t BytesPerSector = 0;
  uint32_t BytesPerCluster = 0;

  bool operator==(const VolumeIdentity&) const = default;
  // The serial number as 16 upper-case hex digits (blkid's UUID of NTFS).
  std::string Uuid() const;
};

// Reads and checks the boot sector: an NTFS boot sector, and storage large
// enough for the file system it describes. On failure `error` says why.
bool ReadVolumeIdentity(BlockStorage& storage, VolumeIdentity& out, std::string& error);

} // namespace quillo
