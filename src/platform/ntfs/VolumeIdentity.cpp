// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/VolumeIdentity.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/ntfs/ByteOrder.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

constexpr size_t kBootSectorBytes = 512;
// Field offsets of the NTFS boot sector.
constexpr size_t kBytesPerSectorAt = 0x0B;
constexpr size_t kSectorsPerClusterAt = 0x0D;
constexpr size_t kTotalSectorsAt = 0x28;
constexpr size_t kMftLcnAt = 0x30;
constexpr size_t kMftMirrLcnAt = 0x38;
constexpr size_t kSerialNumberAt = 0x48;
// Above this value the sectors-per-cluster byte is a negative power of two.
constexpr uint8_t kLargestPlainSectorsPerCluster = 0x80;
constexpr unsigned kPowerBase = 256;

// The sizes NTFS allows.
constexpr uint32_t kSmallestSector = 256;
constexpr uint32_t kLargestSector = 4096;
constexpr uint32_t kLargestCluster = 2 << 20;

static_assert(sizeof(NTFS_BOOT_SECTOR) == kBootSectorBytes);

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

} // namespace

std::string VolumeIdentity::Uuid() const {
  char text[17];
  std::snprintf(text, sizeof(text), "%016llX", static_cast<unsigned long long>(SerialNumber));
  return text;
}

bool ReadVolumeIdentity(BlockStorage& storage, VolumeIdentity& out, std::string& error) {
  std::array<uint8_t, kBootSectorBytes> sector{};
  int64_t got = storage.ReadAt(0, sector.data(), sector.size());
  if (got < 0) {
    error = "The boot sector cannot be read.";
    return false;
  }
  if (size_t(got) < sector.size()) {
    error = "The image is too small to hold an NTFS volume.";
    return false;
  }
  NTFS_BOOT_SECTOR boot;
  std::memcpy(&boot, sector.data(), sizeof(boot));
  if (!ntfs_boot_sector_is_ntfs(&boot)) {
    error = "The boot sector does not describe an NTFS volume (it is damaged, or the volume is "
            "not NTFS).";
    return false;
  }
  out.BytesPerSector = LoadLe16(&sector[kBytesPerSectorAt]);
  uint8_t sectorsPerCluster = sector[kSectorsPerClusterAt];
  uint64_t clusterSectors = sectorsPerCluster > kLargestPlainSectorsPerCluster
                                ? uint64_t(1) << (kPowerBase - sectorsPerCluster)
                                : sectorsPerCluster;
  out.BytesPerCluster = uint32_t(clusterSectors * out.BytesPerSector);
  if (!IsPowerOfTwo(out.BytesPerSector) || out.BytesPerSector < kSmallestSector ||
      out.BytesPerSector > kLargestSector || !IsPowerOfTwo(out.BytesPerCluster) ||
      out.BytesPerCluster > kLargestCluster) {
    error = "The boot sector does not describe an NTFS volume (its sector or cluster size is "
            "impossible).";
    return false;
  }
  out.TotalSectors = LoadLe64(&sector[kTotalSectorsAt]);
  out.MftLcn = LoadLe64(&sector[kMftLcnAt]);
  out.MftMirrLcn = LoadLe64(&sector[kMftMirrLcnAt]);
  out.SerialNumber = LoadLe64(&sector[kSerialNumberAt]);

  uint64_t needed = out.TotalSectors * out.BytesPerSector;
  uint64_t size = storage.Size();
  if (size < needed) {
    error = "The image is truncated: the file system needs " + std::to_string(needed) +
            " bytes, the image holds " + std::to_string(size) + ".";
    return false;
  }
  return true;
}

} // namespace quillo
