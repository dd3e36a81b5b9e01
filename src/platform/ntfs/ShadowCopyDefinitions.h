// SPDX-License-Identifier: GPL-2.0-or-later
// On-disk structures of Windows' Volume Shadow Copy (VSS) metadata on an NTFS
// volume, as described publicly in libvshadow's "Volume Shadow Snapshot (VSS)
// format" (J. Metz), sections "Volume header", "Catalog" and "Store". Every
// multi-byte field is little-endian and read byte by byte, so the structures
// read the same on any host and need no alignment.
//
// The volume header lives at byte 0x1E00 of the volume, inside $Boot. It names
// the catalog: a chain of 16 KiB blocks, each a block header and 127 entries
// of 128 bytes. A snapshot is a type 0x02 entry (its store's identifier and
// creation time) and a type 0x03 entry (where its store's blocks lie). Every
// offset is in bytes from the start of the volume.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ntfs/ByteOrder.h"

namespace quillo::vss {

// Byte offset of the volume header ("Volume header").
constexpr uint64_t kVolumeHeaderOffset = 0x1E00;
// Catalog and store blocks ("Catalog", "Store block list").
constexpr size_t kBlockBytes = 0x4000;
constexpr size_t kCatalogEntryBytes = 128;

// The VSS identifier 3808876b-c176-4e48-b7ae-04046e6cc752 as the bytes on
// disk (a GUID: its first three fields little-endian).
constexpr uint8_t kIdentifier[16] = {0x6b, 0x87, 0x08, 0x38, 0x76, 0xc1, 0x48, 0x4e,
                                     0xb7, 0xae, 0x04, 0x04, 0x6e, 0x6c, 0xc7, 0x52};
// The same GUID as it ends the names of the catalog and store files in
// "System Volume Information" ("Overview").
constexpr const char16_t* kFileNameSuffix = u"{3808876b-c176-4e48-b7ae-04046e6cc752}";
constexpr const char16_t* kMetadataFolder = u"System Volume Information";

// Record types of the block headers ("Store block record types").
constexpr uint32_t kRecordVolumeHeader = 0x01;
constexpr uint32_t kRecordCatalogBlock = 0x02;
constexpr uint32_t kRecordBlockList = 0x03;
constexpr uint32_t kRecordStoreHeader = 0x04;
constexpr uint32_t kRecordBlockRangeList = 0x05;
constexpr uint32_t kRecordStoreBitmap = 0x06;

// Versions of the volume header (1: Vista and 7, 2: Windows 8 and later) and
// of the catalog and store block headers (always 1).
constexpr uint32_t kFirstVolumeVersion = 1;
constexpr uint32_t kLastVolumeVersion = 2;
constexpr uint32_t kBlockVersion = 1;

// Catalog entry types ("Catalog entry"). Zeroed entries are empty too.
constexpr uint64_t kEntryEmpty = 0x00;
constexpr uint64_t kEntryUnused = 0x01;
constexpr uint64_t kEntrySnapshot = 0x02;
constexpr uint64_t kEntryStoreLocation = 0x03;

#pragma pack(push, 1)

// A little-endian field of N bytes.
template <size_t N>
struct LeField {
  uint8_t Bytes[N];
};
struct Le32 : LeField<4> {
  uint32_t Get() const { return LoadLe32(Bytes); }
  void Set(uint32_t value) { StoreLe32(Bytes, value); }
};
struct Le64 : LeField<8> {
  uint64_t Get() const { return LoadLe64(Bytes); }
  void Set(uint64_t value) { StoreLe64(Bytes, value); }
};

struct Guid {
  uint8_t Bytes[16];
};

// "Volume header": 512 bytes at kVolumeHeaderOffset.
struct VolumeHeader {
  Guid Identifier; // kIdentifier
  Le32 Version;
  Le32 RecordType;    // kRecordVolumeHeader
  Le64 CurrentOffset; // kVolumeHeaderOffset
  Le64 NextOffset;
  Le64 Unknown1;
  Le64 CatalogOffset; // 0: no catalog
  Le64 MaximumSize;   // 0: unbounded
  Guid VolumeIdentifier;
  Guid StorageVolumeIdentifier;
  Le32 Unknown2;
  uint8_t Unused[412];
};

// "Catalog block header": the first 128 bytes of each catalog block.
struct CatalogBlockHeader {
  Guid Identifier; // kIdentifier
  Le32 Version;    // kBlockVersion
  Le32 RecordType; // kRecordCatalogBlock
  Le64 RelativeOffset; // from the first catalog block
  Le64 CurrentOffset;
  Le64 NextOffset; // 0 for the last block
  uint8_t Unused[80];
};

// "Catalog entry type 0x02": one snapshot.
struct SnapshotEntry {
  Le64 EntryType; // kEntrySnapshot
  Le64 VolumeSize;
  Guid StoreIdentifier; // also in the store file's name
  Le64 SequenceNumber;
  Le64 Flags;
  Le64 CreationTime; // FILETIME, UTC
  uint8_t Unused[72];
};

// "Catalog entry type 0x03": where a snapshot's store lies.
struct StoreLocationEntry {
  Le64 EntryType; // kEntryStoreLocation
  Le64 BlockListOffset;
  Guid StoreIdentifier;
  Le64 StoreHeaderOffset;
  Le64 BlockRangeListOffset;
  Le64 BitmapOffset;
  Le64 FileReference; // the store file's MFT reference
  Le64 AllocatedSize;
  Le64 PreviousBitmapOffset; // 0 when unused
  Le64 Unknown;
  uint8_t Unused[40];
};

// "Store block header": the first 128 bytes of every store block.
struct StoreBlockHeader {
  Guid Identifier; // kIdentifier
  Le32 Version;    // kBlockVersion
  Le32 RecordType; // kRecordBlockList ... kRecordStoreBitmap
  Le64 RelativeOffset; // from the start of the store
  Le64 CurrentOffset;
  Le64 NextOffset; // 0 for the last block
  Le64 StoreInformationSize; // first block of the store header only
  uint8_t Unused[72];
};

// "Store information": after the store header's block header; followed by
// two strings, each a Le16 byte count and UTF-16LE text.
struct StoreInformation {
  Guid Unknown;
  Guid ShadowCopyIdentifier;
  Guid ShadowCopySetIdentifier;
  Le32 Type;
  Le32 Provider;
  Le32 AttributeFlags;
  Le32 Unknown2;
};

#pragma pack(pop)

static_assert(sizeof(Le32) == 4 && alignof(Le32) == 1);
static_assert(sizeof(Le64) == 8 && alignof(Le64) == 1);
static_assert(sizeof(VolumeHeader) == 512);
static_assert(offsetof(VolumeHeader, CatalogOffset) == 48);
static_assert(offsetof(VolumeHeader, Unknown2) == 96);
static_assert(sizeof(CatalogBlockHeader) == 128);
static_assert(offsetof(CatalogBlockHeader, NextOffset) == 40);
static_assert(sizeof(SnapshotEntry) == kCatalogEntryBytes);
static_assert(offsetof(SnapshotEntry, CreationTime) == 48);
static_assert(sizeof(StoreLocationEntry) == kCatalogEntryBytes);
static_assert(offsetof(StoreLocationEntry, FileReference) == 56);
static_assert(offsetof(StoreLocationEntry, Unknown) == 80);
static_assert(sizeof(StoreBlockHeader) == 128);
static_assert(offsetof(StoreBlockHeader, StoreInformationSize) == 48);
static_assert(sizeof(StoreInformation) == 64);
// A catalog block is its header and a whole number of entries.
static_assert((kBlockBytes - sizeof(CatalogBlockHeader)) % kCatalogEntryBytes == 0);

} // namespace quillo::vss
