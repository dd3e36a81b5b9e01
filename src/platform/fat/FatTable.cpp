// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatTable.h"

#include <algorithm>
#include <cstring>

namespace quillo::fat {

namespace {

// FAT reads and writes go in blocks of this size.
constexpr size_t kFatIoBlockBytes = 4 << 20;
// Changed sectors closer together than this are written in one span.
constexpr uint32_t kFlushSpanBytes = 32 << 10;

uint32_t ReadLe32(const uint8_t* at) {
  return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) |
         (uint32_t(at[3]) << 24);
}

void WriteLe32(uint8_t* at, uint32_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
  at[2] = uint8_t(value >> 16);
  at[3] = uint8_t(value >> 24);
}

} // namespace

std::string DescribeChainError(ChainError error) {
  switch (error) {
  case ChainError::None: return "sound";
  case ChainError::StartOutOfRange: return "its first cluster lies outside the volume";
  case ChainError::OutOfRange: return "its cluster chain leaves the volume";
  case ChainError::FreeInChain: return "its cluster chain runs into a free cluster";
  case ChainError::BadCluster: return "its cluster chain runs into a bad cluster";
  case ChainError::Loop: return "its cluster chain loops";
  }
  return "unknown";
}

std::string FatTable::Load(BlockDevice& device, const FatLayout& layout) {
  Layout = layout;
  EntriesPerSector = layout.BytesPerSector / kFatEntryBytes;
  uint64_t needed = uint64_t(layout.ClusterCount) + kFirstDataCluster;
  uint32_t sectors = uint32_t((needed + EntriesPerSector - 1) / EntriesPerSector);
  Entries.assign(size_t(sectors) * EntriesPerSector, 0);
  DirtySectors.assign(sectors, false);
  DirtyFirst = UINT32_MAX;
  DirtyLast = 0;

  uint64_t base = layout.FatOffset(layout.ActiveFat);
  uint64_t total = uint64_t(sectors) * layout.BytesPerSector;
  std::vector<uint8_t> block(std::min<uint64_t>(total, kFatIoBlockBytes));
  for (uint64_t done = 0; done < total;) {
    size_t length = size_t(std::min<uint64_t>(block.size(), total - done));
    if (!device.ReadAt(base + done, block.data(), length)) return "the FAT cannot be read";
    size_t first = size_t(done / kFatEntryBytes);
    for (size_t i = 0; i < length / kFatEntryBytes; ++i)
      Entries[first + i] = ReadLe32(block.data() + i * kFatEntryBytes);
    done += length;
  }

  if ((Entries[0] & 0xFF) != layout.Media) return "the first FAT entry does not match the media byte";
  Free = 0;
  for (uint32_t c = kFirstDataCluster; c <= layout.MaxCluster(); ++c)
    if (Get(c) == kFatFree) ++Free;
  return {};
}

void FatTable::MarkDirty(uint32_t cluster) {
  uint32_t sector = cluster / EntriesPerSector;
  DirtySectors[sector] = true;
  DirtyFirst = std::min(DirtyFirst, sector);
  DirtyLast = std::max(DirtyLast, sector);
}

void FatTable::Change(uint32_t cluster, uint32_t updated) {
  uint32_t old = Entries[cluster];
  if (cluster >= kFirstDataCluster) {
    bool wasFree = (old & kFatEntryMask) == kFatFree;
    bool isFree = (updated & kFatEntryMask) == kFatFree;
    if (wasFree && !isFree) --Free;
    if (!wasFree && isFree) ++Free;
  }
  Entries[cluster] = updated;
}

void FatTable::Set(uint32_t cluster, uint32_t value) {
  bool held = DiskValues.erase(cluster) != 0;
  uint32_t updated = WithHighBits(cluster, value);
  if (!held && updated == Entries[cluster]) return;
  if (updated != Entries[cluster]) Change(cluster, updated);
  MarkDirty(cluster);
}

void FatTable::Defer(uint32_t cluster, uint32_t value) {
  uint32_t old = Entries[cluster];
  uint32_t updated = WithHighBits(cluster, value);
  if (updated == old) return;
  DiskValues.try_emplace(cluster, old);
  Change(cluster, updated);
}

void FatTable::Stage(uint32_t cluster, uint32_t value) {
  uint32_t onDisk = WithHighBits(cluster, value);
  if (onDisk == Entries[cluster])
    DiskValues.erase(cluster);
  else
    DiskValues[cluster] = onDisk;
  MarkDirty(cluster);
}

void FatTable::AllocationBits(uint32_t first, uint32_t count, uint8_t* out) const {
  constexpr uint32_t kBitsPerByte = 8;
  const uint32_t* entries = Entries.data() + first;
  // A byte at a time from eight entries, without a branch per cluster: the
  // engine asks for the whole volume between moves.
  uint32_t whole = count / kBitsPerByte;
  for (uint32_t i = 0; i < whole; ++i, entries += kBitsPerByte) {
    uint32_t bits = 0;
    for (uint32_t b = 0; b < kBitsPerByte; ++b)
      bits |= uint32_t((entries[b] & kFatEntryMask) != kFatFree) << b;
    out[i] = uint8_t(bits);
  }
  uint32_t rest = count % kBitsPerByte;
  if (rest == 0) return;
  uint32_t bits = 0;
  for (uint32_t b = 0; b < rest; ++b)
    bits |= uint32_t((entries[b] & kFatEntryMask) != kFatFree) << b;
  out[whole] = uint8_t(bits);
}

uint32_t FatTable::FirstFreeCluster() const {
  for (uint32_t c = kFirstDataCluster; c <= Layout.MaxCluster(); ++c)
    if (Get(c) == kFatFree) return c;
  return 0;
}

ChainError FatTable::ReadChain(uint32_t first, std::vector<uint32_t>& clusters) const {
  clusters.clear();
  if (!Layout.IsDataCluster(first)) return ChainError::StartOutOfRange;
  uint32_t cluster = first;
  // A chain can hold each cluster at most once; anything longer loops.
  while (true) {
    if (clusters.size() >= Layout.ClusterCount) return ChainError::Loop;
    clusters.push_back(cluster);
    uint32_t next = Get(cluster);
    if (IsEndOfChain(next)) return ChainError::None;
    if (next == kFatFree) return ChainError::FreeInChain;
    if (next == kFatBadCluster) return ChainError::BadCluster;
    if (!Layout.IsDataCluster(next)) return ChainError::OutOfRange;
    cluster = next;
  }
}

void FatTable::SerializeSectors(uint32_t first, uint32_t last, std::vector<uint8_t>& out) const {
  size_t count = size_t(last - first + 1) * EntriesPerSector;
  out.resize(count * kFatEntryBytes);
  uint32_t base = first * EntriesPerSector;
  const uint32_t* from = Entries.data() + base;
  for (size_t i = 0; i < count; ++i) WriteLe32(out.data() + i * kFatEntryBytes, from[i]);
  // Entries whose change the disk may not have yet keep their old value.
  for (auto held = DiskValues.lower_bound(base);
       held != DiskValues.end() && held->first < base + count; ++held)
    WriteLe32(out.data() + size_t(held->first - base) * kFatEntryBytes, held->second);
}

bool FatTable::Flush(BlockDevice& device) {
  if (!HasChanges()) return true;
  // The spans to write: neighbouring changed sectors are joined, and so are
  // sectors close together (rewriting the unchanged ones between them).
  std::vector<std::pair<uint32_t, uint32_t>> spans;
  uint32_t spanSectors = std::max<uint32_t>(1, kFlushSpanBytes / Layout.BytesPerSector);
  for (uint32_t s = DirtyFirst; s <= DirtyLast; ++s) {
    if (!DirtySectors[s]) continue;
    if (!spans.empty() && s - spans.back().first < spanSectors)
      spans.back().second = s;
    else
      spans.push_back({s, s});
  }

  std::vector<uint32_t> copies;
  copies.push_back(Layout.ActiveFat);
  if (Layout.Mirrored)
    for (uint32_t copy = 0; copy < Layout.FatCount; ++copy)
      if (copy != Layout.ActiveFat) copies.push_back(copy);

  std::vector<uint8_t> bytes;
  for (uint32_t copy : copies) {
    for (auto [first, last] : spans) {
      SerializeSectors(first, last, bytes);
      uint64_t offset = Layout.FatOffset(copy) + uint64_t(first) * Layout.BytesPerSector;
      if (!device.WriteAt(offset, bytes.data(), bytes.size())) return false;
    }
  }
  for (uint32_t s = DirtyFirst; s <= DirtyLast; ++s) DirtySectors[s] = false;
  DirtyFirst = UINT32_MAX;
  DirtyLast = 0;
  return true;
}

std::string FatTable::CompareCopies(BlockDevice& device) const {
  if (!Layout.Mirrored) return {};
  uint64_t total = uint64_t(Entries.size()) * kFatEntryBytes;
  std::vector<uint8_t> active(std::min<uint64_t>(total, kFatIoBlockBytes));
  std::vector<uint8_t> other(active.size());
  for (uint32_t copy = 0; copy < Layout.FatCount; ++copy) {
    if (copy == Layout.ActiveFat) continue;
    for (uint64_t done = 0; done < total;) {
      size_t length = size_t(std::min<uint64_t>(active.size(), total - done));
      if (!device.ReadAt(Layout.FatOffset(copy) + done, other.data(), length))
        return "FAT copy " + std::to_string(copy + 1) + " cannot be read";
      size_t firstEntry = size_t(done / kFatEntryBytes);
      for (size_t i = 0; i < length / kFatEntryBytes; ++i)
        WriteLe32(active.data() + i * kFatEntryBytes, Entries[firstEntry + i]);
      for (auto held = DiskValues.lower_bound(uint32_t(firstEntry));
           held != DiskValues.end() && held->first < firstEntry + length / kFatEntryBytes; ++held)
        WriteLe32(active.data() + (held->first - firstEntry) * kFatEntryBytes, held->second);
      if (std::memcmp(active.data(), other.data(), length) != 0)
        return "the FAT copies differ";
      done += length;
    }
  }
  return {};
}

} // namespace quillo::fat
