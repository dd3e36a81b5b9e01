// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/BootSectorProbe.h"

#include <cstring>

#include "platform/fat/Definitions.h"
#include "platform/fat/FatLayout.h"

namespace quillo {

namespace {

// NTFS boot sector: the OEM name at byte 3, the 64-bit serial at byte 72.
constexpr size_t kNtfsOemOffset = 3;
constexpr char kNtfsOem[] = "NTFS    ";
constexpr size_t kNtfsSerialOffset = 72;
constexpr size_t kBytesPerSectorOffset = 11;
constexpr size_t kSignatureOffset = 510;
constexpr size_t kSectorBytes = 512;
constexpr char kNoLabel[] = "NO NAME";

bool PlausibleSectorSize(uint32_t bytes) {
  return bytes >= fat::kMinBytesPerSector && bytes <= fat::kMaxBytesPerSector &&
         (bytes & (bytes - 1)) == 0;
}

} // namespace

BootSectorFacts ReadBootSectorFacts(BlockDevice& device) {
  BootSectorFacts facts;
  uint8_t sector[kSectorBytes];
  if (device.Size() < kSectorBytes || !device.ReadAt(0, sector, kSectorBytes)) {
    facts.Why = "the boot sector cannot be read";
    return facts;
  }
  bool hasSignature = sector[kSignatureOffset] == 0x55 && sector[kSignatureOffset + 1] == 0xAA;
  uint32_t bytesPerSector = uint32_t(sector[kBytesPerSectorOffset]) |
                            (uint32_t(sector[kBytesPerSectorOffset + 1]) << 8);
  if (hasSignature && std::memcmp(sector + kNtfsOemOffset, kNtfsOem, 8) == 0 &&
      PlausibleSectorSize(bytesPerSector)) {
    facts.Kind = FileSystemKind::Ntfs;
    facts.FileSystemName = "NTFS";
    fat::Le32 serial;
    std::memcpy(&serial, sector + kNtfsSerialOffset, sizeof(serial));
    facts.SerialNumber = serial.Get();
    return facts;
  }

  fat::BootSector boot;
  std::memcpy(&boot, sector, sizeof(boot));
  fat::FatLayout layout;
  std::string why = fat::ValidateBootSector(boot, device.Size(), layout);
  if (!why.empty()) {
    facts.Why = "neither FAT32 nor NTFS: " + why;
    return facts;
  }
  facts.Kind = FileSystemKind::Fat32;
  facts.FileSystemName = "FAT32";
  facts.SerialNumber = layout.VolumeId;
  if (layout.Label != kNoLabel) facts.Label = layout.Label;
  return facts;
}

} // namespace quillo
