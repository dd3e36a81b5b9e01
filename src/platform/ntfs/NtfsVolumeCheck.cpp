// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/NtfsVolumeCheck.h"

#include <algorithm>
#include <cstdio>

#include "engine/TextCodec.h"

#include "platform/ntfs/AttributeListLinks.h"
#include "platform/ntfs/ClusterOwners.h"
#include "platform/ntfs/MftCatalog.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

constexpr int64_t kBitsPerByte = 8;
constexpr int64_t kWordBits = 64;
constexpr int64_t kWordBytes = kWordBits / kBitsPerByte;
// $Bitmap is compared in pieces of this many bytes.
constexpr int64_t kBitmapPieceBytes = 1 << 20;

uint64_t LittleEndianWord(const uint8_t* bytes) {
  uint64_t word = 0;
  for (int64_t i = kWordBytes - 1; i >= 0; --i) word = (word << kBitsPerByte) | bytes[i];
  return word;
}

std::string ClusterRange(int64_t first, int64_t count) {
  return count == 1 ? "cluster " + std::to_string(first)
                    : "clusters " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

std::string Hex(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

// "MFT record 74 (\docs\readme.txt)", or the record alone when it has no
// path.
std::string RecordName(const MftCatalog& catalog, uint64_t record) {
  std::string text = "MFT record " + std::to_string(record);
  std::u16string path;
  std::string utf8;
  uint64_t base = catalog.BaseOf(record);
  if (catalog.PathOf(base != 0 ? base : record, path) && Utf16ToUtf8(path, utf8))
    text += " (" + utf8 + ")";
  return text;
}

} // namespace

void NtfsVolumeCheck::CompareWithBitmap(ntfs_volume* volume, const ClusterOwners& owners,
                                        std::vector<std::string>& problems) {
  int64_t clusters = owners.ClusterCount();
  if (volume->lcnbmp_na->data_size * kBitsPerByte < clusters) {
    problems.push_back("$Bitmap is shorter than the volume (" +
                       std::to_string(volume->lcnbmp_na->data_size) + " bytes for " +
                       std::to_string(clusters) + " clusters)");
    return;
  }
  std::vector<uint8_t> piece(static_cast<size_t>(kBitmapPieceBytes));
  int64_t bitmapBytes = (clusters + kBitsPerByte - 1) / kBitsPerByte;
  int64_t freeUnderOwner = 0;
  int64_t rangeStart = -1;
  int64_t rangeLength = 0;
  std::vector<std::string> ranges;
  auto closeRange = [&] {
    if (rangeLength > 0 && ranges.size() < kDescribedFreeRanges)
      ranges.push_back(ClusterRange(rangeStart, rangeLength));
    rangeStart = -1;
    rangeLength = 0;
  };
  for (int64_t offset = 0; offset < bitmapBytes; offset += kBitmapPieceBytes) {
    int64_t take = std::min(kBitmapPieceBytes, bitmapBytes - offset);
    std::fill(piece.begin(), piece.end(), 0);
    if (ntfs_attr_pread(volume->lcnbmp_na, offset, take, piece.data()) != take) {
      problems.push_back("$Bitmap cannot be read");
      return;
    }
    for (int64_t at = 0; at < take; at += kWordBytes) {
      int64_t lcn = (offset + at) * kBitsPerByte;
      uint64_t owned = owners.Word(lcn);
      uint64_t marked = LittleEndianWord(piece.data() + at);
      uint64_t missing = owned & ~marked;
      if (missing == 0) {
        if (rangeLength > 0) closeRange();
        continue;
      }
      for (int64_t bit = 0; bit < kWordBits; ++bit) {
        bool gap = (missing >> bit) & 1;
        if (!gap) {
          if (rangeLength > 0) closeRange();
          continue;
        }
        ++freeUnderOwner;
        if (rangeLength == 0) rangeStart = lcn + bit;
        ++rangeLength;
      }
    }
  }
  closeRange();
  if (freeUnderOwner == 0) return;
  std::string text = std::to_string(freeUnderOwner) + " cluster" +
                     (freeUnderOwner == 1 ? " that is" : "s that are") +
                     " in use are marked free in $Bitmap (";
  for (size_t i = 0; i < ranges.size(); ++i) text += (i ? ", " : "") + ranges[i];
  problems.push_back(text + (freeUnderOwner > int64_t(ranges.size()) ? ", ...)" : ")"));
}

std::vector<std::string> NtfsVolumeCheck::Run(ntfs_volume* volume, const MftCatalog& catalog,
                                              const ClusterOwners& owners,
                                              const AttributeListLinks& lists) {
  std::vector<std::string> problems;
  for (const ClusterOwners::Conflict& conflict : owners.Conflicts())
    problems.push_back(RecordName(catalog, conflict.Record) + ": attribute " +
                       Hex(conflict.AttributeType) + " claims " + std::to_string(conflict.Clusters) +
                       " cluster" + (conflict.Clusters == 1 ? "" : "s") + ", from cluster " +
                       std::to_string(conflict.FirstCluster) +
                       ", that another file or the file system's own metadata owns");
  if (owners.ConflictCount() > owners.Conflicts().size())
    problems.push_back("and " + std::to_string(owners.ConflictCount() - owners.Conflicts().size()) +
                       " more attributes that claim clusters owned already");
  CompareWithBitmap(volume, owners, problems);
  std::vector<std::string> links = lists.Check([&](uint64_t record, AttributeListLinks::RecordFacts& facts) {
    const CatalogEntry* entry = catalog.Entry(record);
    if (!entry) return false;
    facts.InUse = entry->InUse;
    facts.Sequence = entry->Sequence;
    facts.Base = catalog.BaseOf(record);
    return true;
  });
  problems.insert(problems.end(), links.begin(), links.end());
  return problems;
}

} // namespace quillo
