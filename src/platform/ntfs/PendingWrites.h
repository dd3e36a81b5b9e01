// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <map>
#include <optional>
#include <vector>

#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/ImageRange.h"

namespace quillo {

// Writes held back from the volume until they are committed as one update.
// Reads see them, so the library reads back what it wrote. The first write to
// a sector also keeps the sector's previous contents: the undo image.
// Several steps may be held as one update; a savepoint before each lets a
// failed step be taken back without the steps held before it.
class PendingWrites {
public:
  // `metadata`: the library's own reads, which the storage may cache; file
  // data is read past the cache.
  int64_t Read(BlockStorage& base, uint64_t offset, void* data, size_t length,
               bool metadata = true) const;
  bool Write(BlockStorage& base, uint64_t offset, const void* data, size_t length);

  bool Empty() const { return Sectors.empty(); }
  // Whether any held sector lies in [offset, offset + length).
  bool Holds(uint64_t offset, size_t length) const;
  size_t HeldSectors() const { return Sectors.size(); }
  void Clear() {
    Sectors.clear();
    Saved.clear();
  }
  // From here on, the held state of every sector written is kept the first
  // time it is written, until the next savepoint or Clear.
  void MarkSavepoint() { Saved.clear(); }
  // Back to the state of the last savepoint (or of the last Clear).
  void RollBack();
  // The changed sectors, joined into runs; sectors written back unchanged
  // are left out.
  std::vector<ImageRange> ChangedRanges() const;

private:
  struct Sector {
    std::array<uint8_t, kSectorBytes> Before;
    std::array<uint8_t, kSectorBytes> After;
  };
  std::map<uint64_t, Sector> Sectors; // by sector number
  // Since the savepoint: each sector written, as it was held then (none:
  // it was not held).
  std::map<uint64_t, std::optional<Sector>> Saved;
};

} // namespace quillo
