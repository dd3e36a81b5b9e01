// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "platform/fat/Definitions.h"

namespace quillo::fat {

// Where everything lies on a FAT32 volume, computed from a boot sector that
// passed ValidateBootSector. Offsets are bytes from the start of the volume.
struct FatLayout {
  uint32_t BytesPerSector = 0;
  uint32_t SectorsPerCluster = 0;
  uint32_t BytesPerCluster = 0;
  uint32_t ReservedSectors = 0;
  uint32_t FatCount = 0;
  uint32_t FatSectors = 0;
  uint64_t TotalSectors = 0;
  uint32_t RootCluster = 0;
  // 0 when the volume has no FSInfo sector (or none worth trusting).
  uint32_t FsInfoSector = 0;
  // The copy of the boot sector in the reserved area; 0 when there is none.
  uint32_t BackupBootSector = 0;
  uint32_t ClusterCount = 0;
  // The FAT that is read; with mirroring every copy is written.
  uint32_t ActiveFat = 0;
  bool Mirrored = true;
  uint8_t Media = 0;
  uint32_t VolumeId = 0;
  std::string Label; // from the boot sector, blanks trimmed

  uint64_t FatOffset(uint32_t copy) const {
    return (uint64_t(ReservedSectors) + uint64_t(copy) * FatSectors) * BytesPerSector;
  }
  uint64_t FatBytes() const { return uint64_t(FatSectors) * BytesPerSector; }
  uint64_t DataOffset() const {
    return (uint64_t(ReservedSectors) + uint64_t(FatCount) * FatSectors) * BytesPerSector;
  }
  // The highest valid cluster number.
  uint32_t MaxCluster() const { return ClusterCount + kFirstDataCluster - 1; }
  bool IsDataCluster(uint32_t cluster) const {
    return cluster >= kFirstDataCluster && cluster <= MaxCluster();
  }
  uint64_t ClusterOffset(uint32_t cluster) const {
    return DataOffset() + uint64_t(cluster - kFirstDataCluster) * BytesPerCluster;
  }
  uint64_t VolumeBytes() const { return TotalSectors * BytesPerSector; }
};

// Checks every field a FAT32 volume is used by before anything else looks at
// it: signature and jump, sector and cluster size, reserved area, FAT count
// and size, the FAT32-only fields, the cluster count in the FAT32 range, the
// root cluster, and that the volume fits in deviceBytes. On success fills
// `layout` and returns an empty text; otherwise says what is wrong.
std::string ValidateBootSector(const BootSector& boot, uint64_t deviceBytes, FatLayout& layout);

// The names of the fields that say where things lie (sector and cluster
// size, reserved area, FATs, sizes, root cluster, FSInfo and backup sectors)
// in which `backup` differs from `boot`, joined by ", "; empty when they
// agree. Drive geometry, hidden sectors, ExtFlags and the label are left
// out: tools may change them in the boot sector alone.
std::string DifferingLayoutFields(const BootSector& boot, const BootSector& backup);

// Whether a sector read from FsInfoSector carries all three signatures.
bool IsValidFsInfo(const FsInfoSector& info);

} // namespace quillo::fat
