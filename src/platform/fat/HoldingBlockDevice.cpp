// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/HoldingBlockDevice.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillo::fat {

void HoldingBlockDevice::Hold(uint64_t offset, const DirEntry& entry, Stage stage) {
  HeldEntry& held = Held[offset];
  held.Entry = entry;
  held.When = std::max(held.When, stage);
}

bool HoldingBlockDevice::HasHeld(Stage stage) const {
  return std::any_of(Held.begin(), Held.end(),
                     [stage](const auto& held) { return held.second.When == stage; });
}

template <typename Use>
void HoldingBlockDevice::ForEachOverlap(uint64_t offset, size_t length, Use use) {
  if (Held.empty() || length == 0) return;
  uint64_t from = offset >= kDirEntryBytes ? offset - kDirEntryBytes + 1 : 0;
  for (auto held = Held.lower_bound(from); held != Held.end() && held->first < offset + length;
       ++held)
    use(held->first, reinterpret_cast<uint8_t*>(&held->second.Entry));
}

bool HoldingBlockDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (!Inner.ReadAt(offset, buffer, length)) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  ForEachOverlap(offset, length, [&](uint64_t at, const uint8_t* bytes) {
    uint64_t begin = std::max(at, offset);
    uint64_t end = std::min<uint64_t>(at + kDirEntryBytes, offset + length);
    std::memcpy(out + (begin - offset), bytes + (begin - at), size_t(end - begin));
  });
  return true;
}

bool HoldingBlockDevice::WriteAt(uint64_t offset, const void* data, size_t length) {
  const auto* in = static_cast<const uint8_t*>(data);
  ForEachOverlap(offset, length, [&](uint64_t at, uint8_t* bytes) {
    uint64_t begin = std::max(at, offset);
    uint64_t end = std::min<uint64_t>(at + kDirEntryBytes, offset + length);
    std::memcpy(bytes + (begin - at), in + (begin - offset), size_t(end - begin));
  });
  return Inner.WriteAt(offset, data, length);
}

bool HoldingBlockDevice::TouchesHeld(uint64_t offset, size_t length) {
  bool touches = false;
  ForEachOverlap(offset, length, [&](uint64_t, uint8_t*) { touches = true; });
  return touches;
}

bool HoldingBlockDevice::CopyWithin(uint64_t from, uint64_t to, size_t length) {
  // Held entries must be read as held and updated by the write.
  if (TouchesHeld(from, length) || TouchesHeld(to, length))
    return BlockDevice::CopyWithin(from, to, length);
  return Inner.CopyWithin(from, to, length);
}

bool HoldingBlockDevice::ReadPieces(std::span<const ReadPiece> pieces) {
  // Pieces that cover held entries must read them as held.
  for (const ReadPiece& piece : pieces)
    if (TouchesHeld(piece.Offset, piece.Length)) return BlockDevice::ReadPieces(pieces);
  return Inner.ReadPieces(pieces);
}

bool HoldingBlockDevice::Release(Stage stage) {
  std::vector<uint8_t> sector(SectorBytes);
  for (auto held = Held.begin(); held != Held.end();) {
    if (held->second.When != stage) {
      ++held;
      continue;
    }
    // The sector as the disk has it, with this stage's entries in it.
    uint64_t start = held->first / SectorBytes * SectorBytes;
    if (!Inner.ReadAt(start, sector.data(), sector.size())) return false;
    while (held != Held.end() && held->first < start + SectorBytes) {
      if (held->second.When == stage) {
        std::memcpy(sector.data() + (held->first - start), &held->second.Entry, kDirEntryBytes);
        held = Held.erase(held);
      } else {
        ++held;
      }
    }
    if (!Inner.WriteAt(start, sector.data(), sector.size())) return false;
  }
  return true;
}

} // namespace quillo::fat
