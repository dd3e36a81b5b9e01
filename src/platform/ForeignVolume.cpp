// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ForeignVolume.h"

#include <cstring>
#include <vector>

#include "platform/QuantityText.h"
#include "platform/fat/Definitions.h"

namespace quillo {

namespace {

constexpr size_t kSectorBytes = 512;
constexpr size_t kOemOffset = 3;
constexpr char kExfatOem[] = "EXFAT   ";
constexpr char kBitLockerOem[] = "-FVE-FS-";

// FAT12 and FAT16 are told from FAT32 by the cluster count alone.
constexpr uint64_t kMinFat16Clusters = 4085;

#pragma pack(push, 1)
// The label LVM writes in one of the first four sectors of a physical
// volume; the PV header follows at ContentOffset from its start.
struct LvmLabelHeader {
  char Id[8]; // "LABELONE"
  uint8_t SectorNumber[8];
  fat::Le32 Checksum;
  fat::Le32 ContentOffset;
  char Type[8]; // "LVM2 001"
};
struct LvmPvHeader {
  char Uuid[32];
  uint8_t DeviceSize[8];
};
#pragma pack(pop)
static_assert(sizeof(LvmLabelHeader) == 32, "LVM label header layout");
static_assert(sizeof(LvmPvHeader) == 40, "LVM PV header layout");

constexpr char kLvmLabelId[] = "LABELONE";
constexpr char kLvmType[] = "LVM2";
constexpr size_t kLvmLabelSectors = 4;
// LVM shows a PV UUID in groups of 6-4-4-4-4-4-6 characters.
constexpr size_t kLvmUuidGroups[] = {6, 4, 4, 4, 4, 4, 6};

// The LDM database header of a Windows dynamic disk: in sector 6, and a
// copy in the last sector of the database at the end of the disk.
constexpr char kLdmHeaderMagic[] = "PRIVHEAD";
constexpr uint64_t kLdmHeaderSector = 6;

bool ReadSector(BlockDevice& device, uint64_t sector, uint8_t* bytes) {
  uint64_t at = sector * kSectorBytes;
  return at + kSectorBytes <= device.Size() && device.ReadAt(at, bytes, kSectorBytes);
}

bool HasMagic(const uint8_t* at, const char* magic) {
  return std::memcmp(at, magic, std::strlen(magic)) == 0;
}

const char* OnlyOurs() { return "(only FAT32 and NTFS)"; }

// A FAT boot sector laid out for FAT12 or FAT16 (a root directory of fixed
// size and a 16-bit FAT size), and its cluster count by the rule that
// decides the FAT type.
std::optional<ForeignVolume> SmallFat(const uint8_t* sector) {
  fat::BootSector boot;
  static_assert(sizeof(boot) == kSectorBytes, "FAT boot sector layout");
  std::memcpy(&boot, sector, sizeof(boot));
  bool jumpOk = boot.JmpBoot[0] == fat::kJumpNear ||
                (boot.JmpBoot[0] == fat::kJumpShort && boot.JmpBoot[2] == fat::kNop);
  uint32_t bytesPerSector = boot.BytsPerSec.Get();
  uint32_t sectorsPerCluster = boot.SecPerClus;
  auto powerOfTwo = [](uint32_t value) { return value != 0 && (value & (value - 1)) == 0; };
  if (boot.Signature.Get() != fat::kBootSignature || !jumpOk ||
      bytesPerSector < fat::kMinBytesPerSector || bytesPerSector > fat::kMaxBytesPerSector ||
      !powerOfTwo(bytesPerSector) || !powerOfTwo(sectorsPerCluster) ||
      sectorsPerCluster > fat::kMaxSectorsPerCluster || boot.RsvdSecCnt.Get() == 0 ||
      boot.NumFATs == 0 || boot.FATSz16.Get() == 0 || boot.RootEntCnt.Get() == 0)
    return std::nullopt;
  uint64_t rootSectors =
      (uint64_t(boot.RootEntCnt.Get()) * fat::kDirEntryBytes + bytesPerSector - 1) /
      bytesPerSector;
  uint64_t totalSectors = boot.TotSec16.Get() != 0 ? boot.TotSec16.Get() : boot.TotSec32.Get();
  uint64_t metaSectors = boot.RsvdSecCnt.Get() + uint64_t(boot.NumFATs) * boot.FATSz16.Get() +
                         rootSectors;
  if (totalSectors <= metaSectors) return std::nullopt;
  uint64_t clusters = (totalSectors - metaSectors) / sectorsPerCluster;
  // Laid out as FAT16 yet counted as FAT32: that is damage, not FAT16.
  if (clusters >= fat::kMinFat32Clusters) return std::nullopt;
  std::string name = clusters < kMinFat16Clusters ? "FAT12" : "FAT16";
  return ForeignVolume{name, name + " is not supported " + OnlyOurs() + ": it has " +
                                 FormatCount(clusters) + " clusters; FAT32 has at least " +
                                 FormatCount(fat::kMinFat32Clusters)};
}

std::string LvmUuid(const LvmPvHeader& header) {
  std::string uuid;
  size_t at = 0;
  for (size_t group : kLvmUuidGroups) {
    if (!uuid.empty()) uuid += '-';
    for (size_t i = 0; i < group; ++i, ++at) {
      char c = header.Uuid[at];
      bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      if (!plain) return {};
      uuid += c;
    }
  }
  return uuid;
}

std::optional<ForeignVolume> LvmPhysicalVolume(BlockDevice& device) {
  uint8_t sector[kSectorBytes];
  for (uint64_t number = 0; number < kLvmLabelSectors; ++number) {
    if (!ReadSector(device, number, sector)) break;
    LvmLabelHeader label;
    std::memcpy(&label, sector, sizeof(label));
    if (!HasMagic(sector, kLvmLabelId) ||
        std::memcmp(label.Type, kLvmType, std::strlen(kLvmType)) != 0)
      continue;
    std::string where = "LVM2 label in sector " + std::to_string(number);
    uint32_t content = label.ContentOffset.Get();
    if (content >= sizeof(label) && content + sizeof(LvmPvHeader) <= kSectorBytes) {
      LvmPvHeader pv;
      std::memcpy(&pv, sector + content, sizeof(pv));
      std::string uuid = LvmUuid(pv);
      if (!uuid.empty()) where += ", PV UUID " + uuid;
    }
    return ForeignVolume{"LVM PV", "an LVM physical volume (" + where +
                                       "): its file systems lie in logical volumes, which are "
                                       "not supported " +
                                       OnlyOurs()};
  }
  return std::nullopt;
}

std::optional<ForeignVolume> DynamicDisk(BlockDevice& device) {
  uint8_t sector[kSectorBytes];
  uint64_t sectors = device.Size() / kSectorBytes;
  std::vector<uint64_t> places{kLdmHeaderSector};
  if (sectors > kLdmHeaderSector + 1) places.push_back(sectors - 1);
  for (uint64_t number : places) {
    if (!ReadSector(device, number, sector) || !HasMagic(sector, kLdmHeaderMagic)) continue;
    return ForeignVolume{
        "LDM", "a Windows dynamic disk (LDM database header \"PRIVHEAD\" in sector " +
                   std::to_string(number) +
                   "): volumes on dynamic disks are not supported, only FAT32 and NTFS on basic "
                   "disks and images"};
  }
  return std::nullopt;
}

} // namespace

std::optional<ForeignVolume> IdentifyForeignVolume(BlockDevice& device) {
  uint8_t sector[kSectorBytes];
  if (!ReadSector(device, 0, sector)) return std::nullopt;
  if (HasMagic(sector + kOemOffset, kExfatOem))
    return ForeignVolume{"exFAT", std::string("exFAT is not supported ") + OnlyOurs()};
  if (HasMagic(sector + kOemOffset, kBitLockerOem))
    return ForeignVolume{
        "BitLocker",
        std::string("BitLocker-encrypted (OEM id \"") + kBitLockerOem + "\"): unlock it and turn BitLocker off in Windows "
        "first; nothing on an encrypted volume can be read or moved offline"};
  if (std::optional<ForeignVolume> fat = SmallFat(sector)) return fat;
  if (std::optional<ForeignVolume> lvm = LvmPhysicalVolume(device)) return lvm;
  return DynamicDisk(device);
}

} // namespace quillo
