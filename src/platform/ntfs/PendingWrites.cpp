// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/PendingWrites.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillo {

int64_t PendingWrites::Read(BlockStorage& base, uint64_t offset, void* data,
                            size_t length, bool metadata) const {
  int64_t got = metadata ? base.ReadMetadataAt(offset, data, length)
                         : base.ReadAt(offset, data, length);
  if (got <= 0 || Sectors.empty()) return got;
  uint64_t end = offset + uint64_t(got);
  auto* out = static_cast<uint8_t*>(data);
  for (auto it = Sectors.lower_bound(offset / kSectorBytes);
       it != Sectors.end() && it->first * kSectorBytes < end; ++it) {
    uint64_t sectorStart = it->first * kSectorBytes;
    uint64_t from = std::max(sectorStart, offset);
    uint64_t to = std::min(sectorStart + kSectorBytes, end);
    std::memcpy(out + (from - offset), it->second.After.data() + (from - sectorStart), to - from);
  }
  return got;
}

bool PendingWrites::Holds(uint64_t offset, size_t length) const {
  if (length == 0) return false;
  auto it = Sectors.lower_bound(offset / kSectorBytes);
  return it != Sectors.end() && it->first * kSectorBytes < offset + length;
}

bool PendingWrites::Write(BlockStorage& base, uint64_t offset, const void* data, size_t length) {
  const auto* in = static_cast<const uint8_t*>(data);
  uint64_t end = offset + length;
  for (uint64_t number = offset / kSectorBytes; number * kSectorBytes < end; ++number) {
    uint64_t sectorStart = number * kSectorBytes;
    auto it = Sectors.find(number);
    if (!Saved.contains(number))
      Saved.emplace(number, it == Sectors.end() ? std::nullopt : std::optional<Sector>(it->second));
    if (it == Sectors.end()) {
      Sector sector;
      if (base.ReadMetadataAt(sectorStart, sector.Before.data(), kSectorBytes) != kSectorBytes) {
        errno = EIO;
        return false;
      }
      sector.After = sector.Before;
      it = Sectors.emplace(number, sector).first;
    }
    uint64_t from = std::max(sectorStart, offset);
    uint64_t to = std::min(sectorStart + kSectorBytes, end);
    std::memcpy(it->second.After.data() + (from - sectorStart), in + (from - offset), to - from);
  }
  return true;
}

void PendingWrites::RollBack() {
  for (auto& [number, held] : Saved) {
    if (held)
      Sectors[number] = *held;
    else
      Sectors.erase(number);
  }
  Saved.clear();
}

std::vector<ImageRange> PendingWrites::ChangedRanges() const {
  std::vector<ImageRange> ranges;
  uint64_t nextSector = 0;
  for (const auto& [number, sector] : Sectors) {
    if (sector.Before == sector.After) continue;
    if (ranges.empty() || number != nextSector) {
      ranges.emplace_back();
      ranges.back().Offset = number * kSectorBytes;
    }
    ImageRange& range = ranges.back();
    range.Before.insert(range.Before.end(), sector.Before.begin(), sector.Before.end());
    range.After.insert(range.After.end(), sector.After.begin(), sector.After.end());
    nextSector = number + 1;
  }
  return ranges;
}

} // namespace quillo
