// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ShadowCopyCatalog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/ShadowCopyDefinitions.h"

namespace quillo {

namespace {

constexpr size_t kEntriesPerBlock =
    (vss::kBlockBytes - sizeof(vss::CatalogBlockHeader)) / vss::kCatalogEntryBytes;
// Nothing of the shadow-copy metadata lies before the end of the header.
constexpr uint64_t kFirstMetadataByte = vss::kVolumeHeaderOffset + sizeof(vss::VolumeHeader);

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return LowerAscii(x) == LowerAscii(y); });
}

bool SameIdentifier(const std::array<uint8_t, 16>& a, const vss::Guid& b) {
  return std::memcmp(a.data(), b.Bytes, a.size()) == 0;
}

} // namespace

bool ShadowCopyCatalog::IsMetadataFile(std::u16string_view path) {
  const std::u16string_view folder = vss::kMetadataFolder;
  const std::u16string_view suffix = vss::kFileNameSuffix;
  if (path.size() < folder.size() + 2 || path[0] != u'\\' ||
      !EqualNoCase(path.substr(1, folder.size()), folder) || path[folder.size() + 1] != u'\\')
    return false;
  std::u16string_view name = path.substr(folder.size() + 2);
  return name.find(u'\\') == std::u16string_view::npos && name.size() >= suffix.size() &&
         EqualNoCase(name.substr(name.size() - suffix.size()), suffix);
}

ShadowCopyCatalog::Finding ShadowCopyCatalog::Fail(std::string why) {
  Why = std::move(why);
  Copies.clear();
  return Found = Finding::Malformed;
}

bool ShadowCopyCatalog::Within(uint64_t offset) const {
  return offset >= kFirstMetadataByte && VolumeBytes >= vss::kBlockBytes &&
         offset <= VolumeBytes - vss::kBlockBytes;
}

ShadowCopyCatalog::Finding ShadowCopyCatalog::Read(BlockStorage& storage, uint64_t volumeBytes) {
  VolumeBytes = volumeBytes;
  Found = Finding::None;
  Copies.clear();
  Extents.clear();
  Why.clear();

  vss::VolumeHeader header;
  int64_t got = storage.ReadAt(vss::kVolumeHeaderOffset, &header, sizeof(header));
  if (got < 0) return Fail("its header at byte 0x1E00 cannot be read");
  if (size_t(got) < sizeof(header) ||
      std::memcmp(header.Identifier.Bytes, vss::kIdentifier, sizeof(vss::kIdentifier)) != 0)
    return Found = Finding::None;
  uint32_t version = header.Version.Get();
  if (version < vss::kFirstVolumeVersion || version > vss::kLastVolumeVersion)
    return Fail("its header is of unknown version " + std::to_string(version));
  if (header.RecordType.Get() != vss::kRecordVolumeHeader)
    return Fail("its header has record type " + std::to_string(header.RecordType.Get()) +
                " instead of 1");
  uint64_t catalog = header.CatalogOffset.Get();
  // Shadow copies enabled, none taken.
  if (catalog == 0) return Found = Finding::NoSnapshots;
  if (!ReadCatalog(storage, catalog)) return Found;
  return Found = Copies.empty() ? Finding::NoSnapshots : Finding::Snapshots;
}

bool ShadowCopyCatalog::ReadCatalog(BlockStorage& storage, uint64_t firstBlock) {
  std::vector<uint8_t> block(vss::kBlockBytes);
  std::vector<uint64_t> visited;
  for (uint64_t offset = firstBlock; offset != 0;) {
    if (!Within(offset)) {
      Fail("its catalog block at byte " + Hex(offset) + " lies outside the volume");
      return false;
    }
    if (std::find(visited.begin(), visited.end(), offset) != visited.end()) {
      Fail("its catalog's chain of blocks loops back to byte " + Hex(offset));
      return false;
    }
    if (visited.size() == kMaximumCatalogBlocks) {
      Fail("its catalog has more than " + std::to_string(kMaximumCatalogBlocks) + " blocks");
      return false;
    }
    visited.push_back(offset);
    if (storage.ReadAt(offset, block.data(), block.size()) != int64_t(block.size())) {
      Fail("its catalog block at byte " + Hex(offset) + " cannot be read");
      return false;
    }
    vss::CatalogBlockHeader blockHeader;
    std::memcpy(&blockHeader, block.data(), sizeof(blockHeader));
    if (std::memcmp(blockHeader.Identifier.Bytes, vss::kIdentifier, sizeof(vss::kIdentifier)) != 0 ||
        blockHeader.Version.Get() != vss::kBlockVersion ||
        blockHeader.RecordType.Get() != vss::kRecordCatalogBlock) {
      Fail("the catalog block at byte " + Hex(offset) + " is not a catalog block");
      return false;
    }
    Extents.push_back({offset, vss::kBlockBytes});
    for (size_t i = 0; i < kEntriesPerBlock; ++i)
      if (!ReadEntry(block.data() + sizeof(blockHeader) + i * vss::kCatalogEntryBytes)) return false;
    offset = blockHeader.NextOffset.Get();
  }
  // Every store named must belong to a snapshot.
  for (const ShadowCopy& copy : Copies)
    if (copy.StoreHeaderOffset == 0 && copy.CreationTime == 0) {
      Fail("its catalog names a store that no snapshot entry lists");
      return false;
    }
  return true;
}

bool ShadowCopyCatalog::ReadEntry(const uint8_t* entry) {
  uint64_t type = LoadLe64(entry);
  if (type == vss::kEntryEmpty || type == vss::kEntryUnused) return true;
  if (type == vss::kEntrySnapshot) {
    vss::SnapshotEntry snapshot;
    std::memcpy(&snapshot, entry, sizeof(snapshot));
    auto known = std::find_if(Copies.begin(), Copies.end(), [&](const ShadowCopy& copy) {
      return SameIdentifier(copy.StoreIdentifier, snapshot.StoreIdentifier);
    });
    if (known == Copies.end()) {
      known = Copies.emplace(Copies.end());
      std::memcpy(known->StoreIdentifier.data(), snapshot.StoreIdentifier.Bytes, 16);
    } else if (known->CreationTime != 0) {
      Fail("its catalog lists one store twice");
      return false;
    }
    known->CreationTime = snapshot.CreationTime.Get();
    // A snapshot entry with no time would pass for a stray store location.
    if (known->CreationTime == 0) {
      Fail("its catalog lists a snapshot without a creation time");
      return false;
    }
    return true;
  }
  if (type != vss::kEntryStoreLocation) {
    Fail("its catalog holds an entry of unknown type " + Hex(type));
    return false;
  }
  vss::StoreLocationEntry location;
  std::memcpy(&location, entry, sizeof(location));
  const uint64_t lists[] = {location.StoreHeaderOffset.Get(), location.BlockListOffset.Get(),
                            location.BlockRangeListOffset.Get(), location.BitmapOffset.Get(),
                            location.PreviousBitmapOffset.Get()};
  if (lists[0] == 0) {
    Fail("its catalog names a store without a store header");
    return false;
  }
  for (uint64_t offset : lists) {
    if (offset == 0) continue;
    if (!Within(offset)) {
      Fail("its catalog names store data at byte " + Hex(offset) + ", outside the volume");
      return false;
    }
    Extents.push_back({offset, vss::kBlockBytes});
  }
  auto known = std::find_if(Copies.begin(), Copies.end(), [&](const ShadowCopy& copy) {
    return SameIdentifier(copy.StoreIdentifier, location.StoreIdentifier);
  });
  if (known == Copies.end()) {
    known = Copies.emplace(Copies.end());
    std::memcpy(known->StoreIdentifier.data(), location.StoreIdentifier.Bytes, 16);
  } else if (known->StoreHeaderOffset != 0) {
    Fail("its catalog names one store's location twice");
    return false;
  }
  known->StoreHeaderOffset = lists[0];
  return true;
}

} // namespace quillo
