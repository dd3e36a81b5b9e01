// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/BootSectorProbe.h"

#include <cstdio>
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
constexpr size_t kNtfsOemLength = 8;
// NTFS keeps its 64-bit sector count at byte 40.
constexpr size_t kNtfsSectorCountOffset = 40;
constexpr size_t kNtfsSectorCountBytes = 8;
constexpr char kNoLabel[] = "NO NAME";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;

bool PlausibleSectorSize(uint32_t bytes) {
  return bytes >= fat::kMinBytesPerSector && bytes <= fat::kMaxBytesPerSector &&
         (bytes & (bytes - 1)) == 0;
}

// NTFS leaves the parameters FAT counts on at zero and sets its own sector
// count: no FAT volume looks like that.
bool HasNtfsLayout(const uint8_t* sector) {
  fat::BootSector boot;
  std::memcpy(&boot, sector, sizeof(boot));
  bool fatFieldsZero = boot.RsvdSecCnt.Get() == 0 && boot.NumFATs == 0 &&
                       boot.RootEntCnt.Get() == 0 && boot.TotSec16.Get() == 0 &&
                       boot.FATSz16.Get() == 0 && boot.TotSec32.Get() == 0;
  bool hasSectorCount = false;
  for (size_t i = 0; i < kNtfsSectorCountBytes; ++i)
    hasSectorCount = hasSectorCount || sector[kNtfsSectorCountOffset + i] != 0;
  return fatFieldsZero && hasSectorCount;
}

// Bytes from the disk, shown as text: printable ASCII as it is, the rest as
// \xHH.
std::string Printable(const uint8_t* bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] >= kFirstPrintable && bytes[i] <= kLastPrintable && bytes[i] != '\\') {
      text += char(bytes[i]);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", bytes[i]);
      text += escaped;
    }
  }
  return text;
}

// What keeps a boot sector that looks like NTFS from being one; empty when
// nothing does.
std::string NtfsFlaws(const uint8_t* sector, bool oemIsNtfs, bool hasSignature,
                      uint32_t bytesPerSector) {
  std::string flaws;
  auto add = [&](const std::string& flaw) { flaws += (flaws.empty() ? "" : "; ") + flaw; };
  if (!oemIsNtfs)
    add("its OEM id (byte 3) is \"" + Printable(sector + kNtfsOemOffset, kNtfsOemLength) +
        "\" instead of \"" + kNtfsOem + "\"");
  if (!hasSignature) add("the boot signature 55 AA (byte 510) is missing");
  if (!PlausibleSectorSize(bytesPerSector))
    add("its sector size of " + std::to_string(bytesPerSector) + " bytes is not possible");
  return flaws;
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
  bool oemIsNtfs = std::memcmp(sector + kNtfsOemOffset, kNtfsOem, kNtfsOemLength) == 0;
  if (oemIsNtfs || HasNtfsLayout(sector)) {
    // Named as NTFS or laid out as NTFS: a FAT reason would mislead.
    std::string flaws = NtfsFlaws(sector, oemIsNtfs, hasSignature, bytesPerSector);
    if (!flaws.empty()) {
      facts.Why = "looks like NTFS, but " + flaws;
      return facts;
    }
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
