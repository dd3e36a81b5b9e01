// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatLayout.h"

#include <bit>
#include <cstring>

namespace quillo::fat {

namespace {

struct LayoutField {
  const char* Name;
  size_t Offset;
  size_t Size;
};

constexpr LayoutField kLayoutFields[] = {
    {"bytes per sector", offsetof(BootSector, BytsPerSec), sizeof(Le16)},
    {"sectors per cluster", offsetof(BootSector, SecPerClus), sizeof(uint8_t)},
    {"reserved sectors", offsetof(BootSector, RsvdSecCnt), sizeof(Le16)},
    {"number of FATs", offsetof(BootSector, NumFATs), sizeof(uint8_t)},
    {"root entry count", offsetof(BootSector, RootEntCnt), sizeof(Le16)},
    {"16-bit total sectors", offsetof(BootSector, TotSec16), sizeof(Le16)},
    {"media byte", offsetof(BootSector, Media), sizeof(uint8_t)},
    {"16-bit FAT size", offsetof(BootSector, FATSz16), sizeof(Le16)},
    {"total sectors", offsetof(BootSector, TotSec32), sizeof(Le32)},
    {"FAT size", offsetof(BootSector, FATSz32), sizeof(Le32)},
    {"version", offsetof(BootSector, FSVer), sizeof(Le16)},
    {"root cluster", offsetof(BootSector, RootClus), sizeof(Le32)},
    {"FSInfo sector", offsetof(BootSector, FSInfo), sizeof(Le16)},
    {"backup boot sector", offsetof(BootSector, BkBootSec), sizeof(Le16)},
};

std::string Trimmed(const uint8_t* text, size_t length) {
  std::string out(reinterpret_cast<const char*>(text), length);
  while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
  return out;
}

} // namespace

std::string ValidateBootSector(const BootSector& boot, uint64_t deviceBytes, FatLayout& layout) {
  if (boot.Signature.Get() != kBootSignature) return "the boot sector has no 55AA signature";
  bool jumpOk = boot.JmpBoot[0] == kJumpNear || (boot.JmpBoot[0] == kJumpShort && boot.JmpBoot[2] == kNop);
  if (!jumpOk) return "the boot sector does not start with a jump instruction";

  uint32_t bytesPerSector = boot.BytsPerSec.Get();
  if (bytesPerSector < kMinBytesPerSector || bytesPerSector > kMaxBytesPerSector ||
      !std::has_single_bit(bytesPerSector))
    return "bytes per sector " + std::to_string(bytesPerSector) +
           " is not 512, 1024, 2048 or 4096";
  uint32_t sectorsPerCluster = boot.SecPerClus;
  if (sectorsPerCluster == 0 || sectorsPerCluster > kMaxSectorsPerCluster ||
      !std::has_single_bit(sectorsPerCluster))
    return "sectors per cluster " + std::to_string(sectorsPerCluster) +
           " is not a power of two up to 128";
  uint32_t bytesPerCluster = bytesPerSector * sectorsPerCluster;
  if (bytesPerCluster > kMaxBytesPerCluster)
    return "clusters of " + std::to_string(bytesPerCluster) + " bytes are larger than 64 KiB";

  uint32_t reserved = boot.RsvdSecCnt.Get();
  if (reserved == 0) return "the reserved sector count is 0";
  uint32_t fatCount = boot.NumFATs;
  if (fatCount == 0 || fatCount > kMaxFatCount)
    return "the volume has " + std::to_string(fatCount) + " FATs (1 or 2 expected)";
  if (boot.Media != kMediaLowest && boot.Media < kMediaFixed)
    return "the media byte is not valid";

  // FAT32 keeps its root directory in clusters and all sizes in the 32-bit
  // fields; a value in a 16-bit field means FAT12 or FAT16.
  if (boot.RootEntCnt.Get() != 0 || boot.FATSz16.Get() != 0 || boot.TotSec16.Get() != 0)
    return "not a FAT32 volume (FAT12/FAT16 fields are set)";
  uint32_t fatSectors = boot.FATSz32.Get();
  if (fatSectors == 0) return "the FAT size is 0";
  if (boot.FSVer.Get() != 0) return "unknown FAT32 version " + std::to_string(boot.FSVer.Get());
  uint64_t totalSectors = boot.TotSec32.Get();
  if (totalSectors == 0) return "the total sector count is 0";

  uint64_t dataStart = uint64_t(reserved) + uint64_t(fatCount) * fatSectors;
  if (dataStart >= totalSectors) return "the FATs leave no room for data";
  uint64_t clusterCount = (totalSectors - dataStart) / sectorsPerCluster;
  if (clusterCount < kMinFat32Clusters)
    return "not a FAT32 volume (" + std::to_string(clusterCount) +
           " clusters, at least 65525 expected)";
  if (clusterCount > kMaxFat32Clusters) return "the cluster count is beyond the FAT32 range";
  uint64_t fatEntries = uint64_t(fatSectors) * bytesPerSector / kFatEntryBytes;
  if (fatEntries < clusterCount + kFirstDataCluster)
    return "the FAT is too small for " + std::to_string(clusterCount) + " clusters";

  uint32_t rootCluster = boot.RootClus.Get();
  if (rootCluster < kFirstDataCluster || rootCluster > clusterCount + kFirstDataCluster - 1)
    return "the root cluster " + std::to_string(rootCluster) + " lies outside the volume";

  uint16_t extFlags = boot.ExtFlags.Get();
  bool mirrored = (extFlags & kExtFlagsMirroringDisabled) == 0;
  uint32_t activeFat = mirrored ? 0 : (extFlags & kExtFlagsActiveFatMask);
  if (activeFat >= fatCount) return "the active FAT does not exist";

  uint64_t volumeBytes = totalSectors * bytesPerSector;
  if (volumeBytes > deviceBytes)
    return "the volume (" + std::to_string(volumeBytes) + " bytes) is larger than its device (" +
           std::to_string(deviceBytes) + " bytes); the image may be truncated";

  uint32_t fsInfo = boot.FSInfo.Get();
  if (fsInfo == kNoFsInfoSector || fsInfo >= reserved) fsInfo = 0;
  // A backup outside the reserved area would lie in the FAT: not a backup.
  uint32_t backupBoot = boot.BkBootSec.Get();
  if (backupBoot == kNoBackupBootSectorAlt || backupBoot >= reserved)
    backupBoot = kNoBackupBootSector;

  layout = FatLayout{};
  layout.BytesPerSector = bytesPerSector;
  layout.SectorsPerCluster = sectorsPerCluster;
  layout.BytesPerCluster = bytesPerCluster;
  layout.ReservedSectors = reserved;
  layout.FatCount = fatCount;
  layout.FatSectors = fatSectors;
  layout.TotalSectors = totalSectors;
  layout.RootCluster = rootCluster;
  layout.FsInfoSector = fsInfo;
  layout.BackupBootSector = backupBoot;
  layout.ClusterCount = uint32_t(clusterCount);
  layout.ActiveFat = activeFat;
  layout.Mirrored = mirrored;
  layout.Media = boot.Media;
  layout.VolumeId = boot.VolID.Get();
  layout.Label = Trimmed(boot.VolLab, sizeof(boot.VolLab));
  return {};
}

std::string DifferingLayoutFields(const BootSector& boot, const BootSector& backup) {
  const auto* primaryBytes = reinterpret_cast<const uint8_t*>(&boot);
  const auto* backupBytes = reinterpret_cast<const uint8_t*>(&backup);
  std::string names;
  for (const LayoutField& field : kLayoutFields) {
    if (std::memcmp(primaryBytes + field.Offset, backupBytes + field.Offset, field.Size) == 0)
      continue;
    names += (names.empty() ? "" : ", ") + std::string(field.Name);
  }
  return names;
}

bool IsValidFsInfo(const FsInfoSector& info) {
  return info.LeadSig.Get() == kFsInfoLeadSig && info.StrucSig.Get() == kFsInfoStrucSig &&
         info.TrailSig.Get() == kFsInfoTrailSig;
}

} // namespace quillo::fat
