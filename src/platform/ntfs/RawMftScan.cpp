// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/RawMftScan.h"

#include <algorithm>
#include <cstring>

#include "platform/ntfs/ByteOrder.h"
#include "platform/ntfs/ExtentStorage.h"

namespace quillo {

namespace {

// Boot sector.
constexpr size_t kBootSectorBytes = 512;
constexpr size_t kClustersPerRecordAt = 0x40;
constexpr uint64_t kLargestRecord = 65536;

// MFT record header.
constexpr uint8_t kRecordMagic[4] = {'F', 'I', 'L', 'E'};
constexpr size_t kFixupOffsetAt = 0x04;
constexpr size_t kFixupCountAt = 0x06;
constexpr size_t kFirstAttributeAt = 0x14;
constexpr size_t kRecordFlagsAt = 0x16;
constexpr size_t kBytesInUseAt = 0x18;
constexpr size_t kBaseRecordAt = 0x20;
constexpr uint16_t kRecordInUse = 0x0001;
// Fixups protect the last two bytes of every 512-byte stride of a record.
constexpr uint64_t kFixupStride = 512;
constexpr size_t kFixupBytes = 2;

// Attribute header.
constexpr uint32_t kAttributeEnd = 0xFFFFFFFF;
constexpr size_t kTypeAt = 0x00;
constexpr size_t kLengthAt = 0x04;
constexpr size_t kNonResidentAt = 0x08;
constexpr size_t kNameLengthAt = 0x09;
constexpr size_t kValueLengthAt = 0x10;
constexpr size_t kValueOffsetAt = 0x14;
constexpr size_t kResidentHeaderBytes = 0x18;
constexpr size_t kLowestVcnAt = 0x10;
constexpr size_t kMappingPairsAt = 0x20;
constexpr size_t kInitializedSizeAt = 0x38;
constexpr size_t kNonResidentHeaderBytes = 0x40;

constexpr uint32_t kAttributeList = 0x20;
constexpr uint32_t kFileName = 0x30;
constexpr uint32_t kVolumeInformation = 0x70;
constexpr uint32_t kData = 0x80;

// $FILE_NAME value.
constexpr size_t kParentAt = 0x00;
constexpr size_t kNameCharsAt = 0x40;
constexpr size_t kNameAt = 0x42;
constexpr uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFULL;
constexpr uint64_t kRootRecord = 5;
constexpr uint64_t kMftRecord = 0;
constexpr uint64_t kVolumeRecord = 3;

// $VOLUME_INFORMATION value.
constexpr size_t kVolumeFlagsAt = 0x0A;
constexpr size_t kVolumeInformationBytes = 0x0C;

constexpr uint64_t kBatchRecords = 256;
constexpr unsigned kNibbleBits = 4;
constexpr uint8_t kNibbleMask = 0x0F;
constexpr unsigned kLargestPairField = 8;
constexpr unsigned kBitsPerByte = 8;
constexpr uint8_t kSignBit = 0x80;

struct Attribute {
  uint32_t Type = 0;
  const uint8_t* At = nullptr;
  uint32_t Length = 0;
  bool NonResident = false;
  uint8_t NameLength = 0;
};

template <typename Visit>
void ForEachAttribute(const std::vector<uint8_t>& record, Visit visit) {
  uint64_t used = std::min<uint64_t>(LoadLe32(&record[kBytesInUseAt]), record.size());
  uint64_t at = LoadLe16(&record[kFirstAttributeAt]);
  while (at + kLengthAt + sizeof(uint32_t) <= used) {
    Attribute attribute;
    attribute.Type = LoadLe32(&record[at + kTypeAt]);
    if (attribute.Type == kAttributeEnd) return;
    attribute.Length = LoadLe32(&record[at + kLengthAt]);
    if (attribute.Length < kResidentHeaderBytes || at + attribute.Length > used) return;
    attribute.At = &record[at];
    attribute.NonResident = attribute.At[kNonResidentAt] != 0;
    attribute.NameLength = attribute.At[kNameLengthAt];
    if (!visit(attribute)) return;
    at += attribute.Length;
  }
}

// A resident value inside its attribute, or false.
bool ResidentValue(const Attribute& attribute, const uint8_t*& value, uint32_t& length) {
  if (attribute.NonResident) return false;
  length = LoadLe32(attribute.At + kValueLengthAt);
  uint64_t offset = LoadLe16(attribute.At + kValueOffsetAt);
  if (offset + length > attribute.Length) return false;
  value = attribute.At + offset;
  return true;
}

// The runs of a non-resident attribute as byte extents; false for a hole,
// a run outside the volume or a malformed list.
bool DecodeRuns(const Attribute& attribute, uint64_t clusterBytes, uint64_t clusters,
                std::vector<ByteExtent>& out) {
  if (!attribute.NonResident || attribute.Length < kNonResidentHeaderBytes) return false;
  uint64_t at = LoadLe16(attribute.At + kMappingPairsAt);
  int64_t lcn = 0;
  while (at < attribute.Length) {
    uint8_t head = attribute.At[at];
    if (head == 0) return !out.empty();
    unsigned lengthBytes = head & kNibbleMask;
    unsigned offsetBytes = head >> kNibbleBits;
    if (lengthBytes == 0 || lengthBytes > kLargestPairField || offsetBytes == 0 ||
        offsetBytes > kLargestPairField || at + 1 + lengthBytes + offsetBytes > attribute.Length)
      return false;
    uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i)
      length |= uint64_t(attribute.At[at + 1 + i]) << (kBitsPerByte * i);
    uint64_t delta = 0;
    for (unsigned i = 0; i < offsetBytes; ++i)
      delta |= uint64_t(attribute.At[at + 1 + lengthBytes + i]) << (kBitsPerByte * i);
    // Sign-extend the delta from its top byte.
    if (offsetBytes < kLargestPairField && (attribute.At[at + lengthBytes + offsetBytes] & kSignBit))
      delta |= ~uint64_t(0) << (kBitsPerByte * offsetBytes);
    lcn += int64_t(delta);
    if (lcn < 0 || length == 0 || length > clusters || uint64_t(lcn) > clusters - length ||
        out.size() >= clusters)
      return false;
    out.push_back({uint64_t(lcn) * clusterBytes, length * clusterBytes});
    at += 1 + lengthBytes + offsetBytes;
  }
  return false;
}

// The unnamed $DATA from VCN 0, or null.
const Attribute* FindData(const std::vector<uint8_t>& record, Attribute& holder) {
  bool found = false;
  ForEachAttribute(record, [&](const Attribute& attribute) {
    if (attribute.Type == kData && attribute.NameLength == 0 && attribute.NonResident &&
        attribute.Length >= kNonResidentHeaderBytes && LoadLe64(attribute.At + kLowestVcnAt) == 0) {
      holder = attribute;
      found = true;
      return false;
    }
    return true;
  });
  return found ? &holder : nullptr;
}

} // namespace

bool RawMftScan::ApplyFixups(std::vector<uint8_t>& record) const {
  if (std::memcmp(record.data(), kRecordMagic, sizeof(kRecordMagic)) != 0) return false;
  uint64_t offset = LoadLe16(&record[kFixupOffsetAt]);
  uint64_t count = LoadLe16(&record[kFixupCountAt]);
  if (count != RecordBytes / kFixupStride + 1 || offset + count * kFixupBytes > kFixupStride)
    return false;
  uint16_t number = LoadLe16(&record[offset]);
  for (uint64_t i = 1; i < count; ++i) {
    uint64_t end = i * kFixupStride - kFixupBytes;
    if (LoadLe16(&record[end]) != number) return false;
    std::memcpy(&record[end], &record[offset + i * kFixupBytes], kFixupBytes);
  }
  return true;
}

bool RawMftScan::ReadRecord(uint64_t number, std::vector<uint8_t>& out) {
  if (number >= RecordCount) return false;
  out.assign(RecordBytes, 0);
  ExtentStorage mft(*Storage, MftExtents);
  return mft.ReadAt(number * RecordBytes, out.data(), out.size()) == int64_t(RecordBytes) &&
         ApplyFixups(out);
}

bool RawMftScan::Open(BlockStorage& storage, const VolumeIdentity& identity, std::string& error) {
  Storage = &storage;
  Identity = identity;
  VolumeBytes = identity.TotalSectors * identity.BytesPerSector;
  uint64_t clusterBytes = identity.BytesPerCluster;
  uint64_t clusters = VolumeBytes / clusterBytes;
  uint8_t boot[kBootSectorBytes];
  if (storage.ReadAt(0, boot, sizeof(boot)) != int64_t(sizeof(boot))) {
    error = "the boot sector cannot be read";
    return false;
  }
  auto perRecord = static_cast<int8_t>(boot[kClustersPerRecordAt]);
  RecordBytes = perRecord > 0 ? uint64_t(perRecord) * clusterBytes : uint64_t(1) << unsigned(-perRecord);
  if (RecordBytes < kFixupStride || RecordBytes > kLargestRecord || RecordBytes % kFixupStride ||
      identity.MftLcn >= clusters) {
    error = "the boot sector gives no usable MFT record size";
    return false;
  }
  // $MFT's own record lies at the start of the MFT, before its runlist is known.
  MftExtents = {{identity.MftLcn * clusterBytes, RecordBytes}};
  RecordCount = 1;
  std::vector<uint8_t> record;
  if (!ReadRecord(kMftRecord, record)) {
    error = "the MFT's own record cannot be read";
    return false;
  }
  Attribute holder;
  const Attribute* data = FindData(record, holder);
  std::vector<ByteExtent> extents;
  if (!data || !DecodeRuns(*data, clusterBytes, clusters, extents)) {
    error = "the MFT's runlist cannot be read";
    return false;
  }
  uint64_t mapped = 0;
  for (const ByteExtent& extent : extents) mapped += extent.Length;
  // Runs that overlap could map more than the volume holds.
  if (mapped > VolumeBytes) {
    error = "the MFT's runlist maps more than the volume holds";
    return false;
  }
  uint64_t initialized = LoadLe64(data->At + kInitializedSizeAt);
  MftExtents = std::move(extents);
  RecordCount = std::min(initialized, mapped) / RecordBytes;
  return true;
}

bool RawMftScan::ReadVolumeFlags(uint16_t& flags) {
  std::vector<uint8_t> record;
  if (!ReadRecord(kVolumeRecord, record)) return false;
  bool found = false;
  ForEachAttribute(record, [&](const Attribute& attribute) {
    const uint8_t* value = nullptr;
    uint32_t length = 0;
    if (attribute.Type == kVolumeInformation && ResidentValue(attribute, value, length) &&
        length >= kVolumeInformationBytes) {
      flags = LoadLe16(value + kVolumeFlagsAt);
      found = true;
      return false;
    }
    return true;
  });
  return found;
}

bool RawMftScan::FindRootFile(std::u16string_view name, Found& out) {
  uint64_t clusterBytes = Identity.BytesPerCluster;
  uint64_t clusters = VolumeBytes / clusterBytes;
  ExtentStorage mft(*Storage, MftExtents);
  std::vector<uint8_t> batch;
  std::vector<uint8_t> record(RecordBytes);
  for (uint64_t first = 0; first < RecordCount; first += kBatchRecords) {
    uint64_t count = std::min(kBatchRecords, RecordCount - first);
    batch.resize(count * RecordBytes);
    if (mft.ReadAt(first * RecordBytes, batch.data(), batch.size()) != int64_t(batch.size()))
      return false;
    for (uint64_t i = 0; i < count; ++i) {
      // Most records of a used volume are free or extents: they are passed
      // over before the copy and the fixups, which never touch these fields.
      static_assert(kBaseRecordAt + sizeof(uint64_t) <= kFixupStride - kFixupBytes);
      const uint8_t* raw = batch.data() + i * RecordBytes;
      if (!(LoadLe16(raw + kRecordFlagsAt) & kRecordInUse) || LoadLe64(raw + kBaseRecordAt) != 0)
        continue;
      std::copy_n(raw, RecordBytes, record.begin());
      if (!ApplyFixups(record)) continue;
      bool named = false;
      bool listed = false;
      ForEachAttribute(record, [&](const Attribute& attribute) {
        listed = listed || attribute.Type == kAttributeList;
        const uint8_t* value = nullptr;
        uint32_t length = 0;
        if (attribute.Type != kFileName || !ResidentValue(attribute, value, length) ||
            length < kNameAt)
          return true;
        uint64_t chars = value[kNameCharsAt];
        if ((LoadLe64(value + kParentAt) & kReferenceMask) != kRootRecord ||
            kNameAt + chars * sizeof(char16_t) > length || chars != name.size())
          return true;
        bool same = true;
        for (uint64_t c = 0; c < chars && same; ++c)
          same = LoadLe16(value + kNameAt + c * sizeof(char16_t)) == uint16_t(name[c]);
        named = named || same;
        return true;
      });
      Attribute holder;
      const Attribute* data = named && !listed ? FindData(record, holder) : nullptr;
      std::vector<ByteExtent> extents;
      if (!data || !DecodeRuns(*data, clusterBytes, clusters, extents)) continue;
      out.Record = first + i;
      out.Extents = std::move(extents);
      return true;
    }
  }
  return false;
}

} // namespace quillo
