// SPDX-License-Identifier: GPL-2.0-or-later
// On-disk structures of FAT32, as laid down in the Microsoft FAT32 File
// System Specification (version 1.03). Every multi-byte field is stored as
// little-endian bytes, so the structures read the same on any host and need
// no alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillo::fat {

#pragma pack(push, 1)

// A 16-bit little-endian field.
struct Le16 {
  uint8_t Bytes[2];
  uint16_t Get() const { return uint16_t(Bytes[0] | (Bytes[1] << 8)); }
  void Set(uint16_t value) {
    Bytes[0] = uint8_t(value);
    Bytes[1] = uint8_t(value >> 8);
  }
};

// A 32-bit little-endian field.
struct Le32 {
  uint8_t Bytes[4];
  uint32_t Get() const {
    return uint32_t(Bytes[0]) | (uint32_t(Bytes[1]) << 8) | (uint32_t(Bytes[2]) << 16) |
           (uint32_t(Bytes[3]) << 24);
  }
  void Set(uint32_t value) {
    Bytes[0] = uint8_t(value);
    Bytes[1] = uint8_t(value >> 8);
    Bytes[2] = uint8_t(value >> 16);
    Bytes[3] = uint8_t(value >> 24);
  }
};

// Boot sector and BIOS parameter block of a FAT32 volume: the fields common
// to all FAT volumes (section 3.1) followed by the FAT32 extension (3.3).
struct BootSector {
  uint8_t JmpBoot[3];
  uint8_t OemName[8];
  Le16 BytsPerSec;
  uint8_t SecPerClus;
  Le16 RsvdSecCnt;
  uint8_t NumFATs;
  Le16 RootEntCnt;
  Le16 TotSec16;
  uint8_t Media;
  Le16 FATSz16;
  Le16 SecPerTrk;
  Le16 NumHeads;
  Le32 HiddSec;
  Le32 TotSec32;
  // FAT32 extension.
  Le32 FATSz32;
  Le16 ExtFlags;
  Le16 FSVer;
  Le32 RootClus;
  Le16 FSInfo;
  Le16 BkBootSec;
  uint8_t Reserved[12];
  uint8_t DrvNum;
  uint8_t Reserved1;
  uint8_t BootSig;
  Le32 VolID;
  uint8_t VolLab[11];
  uint8_t FilSysType[8];
  uint8_t BootCode[420];
  Le16 Signature;
};

// FSInfo sector (section 5): a hint of the free cluster count and of where
// to look for a free cluster. 0xFFFFFFFF in either field means "unknown".
struct FsInfoSector {
  Le32 LeadSig;
  uint8_t Reserved1[480];
  Le32 StrucSig;
  Le32 FreeCount;
  Le32 NxtFree;
  uint8_t Reserved2[12];
  Le32 TrailSig;
};

// Short directory entry (section 6).
struct DirEntry {
  uint8_t Name[11];
  uint8_t Attr;
  uint8_t NTRes;
  uint8_t CrtTimeTenth;
  Le16 CrtTime;
  Le16 CrtDate;
  Le16 LstAccDate;
  Le16 FstClusHI;
  Le16 WrtTime;
  Le16 WrtDate;
  Le16 FstClusLO;
  Le32 FileSize;

  uint32_t FirstCluster() const { return (uint32_t(FstClusHI.Get()) << 16) | FstClusLO.Get(); }
  void SetFirstCluster(uint32_t cluster) {
    FstClusHI.Set(uint16_t(cluster >> 16));
    FstClusLO.Set(uint16_t(cluster));
  }
};

// Long-name directory entry (section 7): 13 UTF-16 characters of the name,
// stored before the short entry it belongs to, last part first.
struct LongNameEntry {
  uint8_t Ord;
  Le16 Name1[5];
  uint8_t Attr;
  uint8_t Type;
  uint8_t Chksum;
  Le16 Name2[6];
  Le16 FstClusLO;
  Le16 Name3[2];
};

#pragma pack(pop)

static_assert(sizeof(Le16) == 2 && alignof(Le16) == 1);
static_assert(sizeof(Le32) == 4 && alignof(Le32) == 1);
static_assert(sizeof(BootSector) == 512);
static_assert(offsetof(BootSector, BytsPerSec) == 11);
static_assert(offsetof(BootSector, TotSec32) == 32);
static_assert(offsetof(BootSector, FATSz32) == 36);
static_assert(offsetof(BootSector, RootClus) == 44);
static_assert(offsetof(BootSector, BootSig) == 66);
static_assert(offsetof(BootSector, FilSysType) == 82);
static_assert(offsetof(BootSector, Signature) == 510);
static_assert(sizeof(FsInfoSector) == 512);
static_assert(offsetof(FsInfoSector, StrucSig) == 484);
static_assert(offsetof(FsInfoSector, FreeCount) == 488);
static_assert(offsetof(FsInfoSector, TrailSig) == 508);
static_assert(sizeof(DirEntry) == 32);
static_assert(offsetof(DirEntry, FstClusHI) == 20);
static_assert(offsetof(DirEntry, WrtTime) == 22);
static_assert(offsetof(DirEntry, FstClusLO) == 26);
static_assert(offsetof(DirEntry, FileSize) == 28);
static_assert(sizeof(LongNameEntry) == 32);
static_assert(offsetof(LongNameEntry, Chksum) == 13);
static_assert(offsetof(LongNameEntry, Name2) == 14);
static_assert(offsetof(LongNameEntry, Name3) == 28);

// --- Boot sector (sections 3.1 to 3.3) ---
constexpr uint16_t kBootSignature = 0xAA55;
constexpr uint8_t kJumpShort = 0xEB;
constexpr uint8_t kJumpNear = 0xE9;
constexpr uint8_t kNop = 0x90;
constexpr uint32_t kMinBytesPerSector = 512;
constexpr uint32_t kMaxBytesPerSector = 4096;
constexpr uint32_t kMaxSectorsPerCluster = 128;
// Windows formats FAT32 with clusters of up to 64 KiB.
constexpr uint32_t kMaxBytesPerCluster = 65536;
constexpr uint8_t kMaxFatCount = 2;
constexpr uint8_t kMediaFixed = 0xF8;
constexpr uint8_t kMediaLowest = 0xF0;
// ExtFlags: bit 7 set = only the FAT numbered in bits 0-3 is active.
constexpr uint16_t kExtFlagsMirroringDisabled = 0x0080;
constexpr uint16_t kExtFlagsActiveFatMask = 0x000F;
// Section 3.5: the cluster count alone decides the FAT type.
constexpr uint32_t kMinFat32Clusters = 65525;
constexpr uint32_t kMaxFat32Clusters = 0x0FFFFFF5;
constexpr uint16_t kNoFsInfoSector = 0xFFFF;
// BkBootSec: 0 (or 0xFFFF) = the volume keeps no backup boot sector.
constexpr uint16_t kNoBackupBootSector = 0;
constexpr uint16_t kNoBackupBootSectorAlt = 0xFFFF;

// --- FSInfo (section 5) ---
constexpr uint32_t kFsInfoLeadSig = 0x41615252;
constexpr uint32_t kFsInfoStrucSig = 0x61417272;
constexpr uint32_t kFsInfoTrailSig = 0xAA550000;
constexpr uint32_t kFsInfoUnknown = 0xFFFFFFFF;

// --- FAT entries (section 4) ---
constexpr uint32_t kFirstDataCluster = 2;
constexpr uint32_t kFatEntryBytes = 4;
// The high 4 bits of an entry are reserved and kept as found.
constexpr uint32_t kFatEntryMask = 0x0FFFFFFF;
constexpr uint32_t kFatFree = 0;
constexpr uint32_t kFatBadCluster = 0x0FFFFFF7;
constexpr uint32_t kFatEndOfChainMin = 0x0FFFFFF8;
constexpr uint32_t kFatEndOfChain = 0x0FFFFFFF;
// FAT[1]: bit 27 set = the volume was cleanly dismounted; bit 26 set = no
// disk I/O errors were met.
constexpr uint32_t kFatCleanShutdownBit = 0x08000000;
constexpr uint32_t kFatNoHardErrorBit = 0x04000000;

// --- Directory entries (sections 6 and 7) ---
constexpr uint32_t kDirEntryBytes = 32;
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolumeId = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kAttrLongNameMask = 0x3F;
constexpr uint8_t kEntryFree = 0xE5;
constexpr uint8_t kEntryEnd = 0x00;
// A name that really starts with 0xE5 stores 0x05 instead.
constexpr uint8_t kEntryKanjiE5 = 0x05;
constexpr uint8_t kLongNameLast = 0x40;
constexpr uint8_t kLongNameOrdMask = 0x1F;
constexpr uint32_t kLongNameCharsPerEntry = 13;
constexpr uint32_t kMaxLongNameEntries = 20; // 255 characters
constexpr char16_t kLongNameTerminator = 0x0000;
constexpr char16_t kLongNamePadding = 0xFFFF;
// NTRes bits (set by Windows NT): the base name or the extension of a short
// name is shown in lower case.
constexpr uint8_t kNtLowerCaseBase = 0x08;
constexpr uint8_t kNtLowerCaseExtension = 0x10;
constexpr uint32_t kShortBaseLength = 8;
constexpr uint32_t kShortNameLength = 11;
constexpr uint32_t kMaxFileSize = 0xFFFFFFFF;

// The checksum of a short name that every long-name entry of it carries.
inline uint8_t ShortNameChecksum(const uint8_t (&name)[kShortNameLength]) {
  uint8_t sum = 0;
  for (uint8_t c : name) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + c);
  return sum;
}

} // namespace quillo::fat
