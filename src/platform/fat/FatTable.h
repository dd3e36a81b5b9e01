// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/BlockDevice.h"
#include "platform/fat/FatLayout.h"

namespace quillo::fat {

// Why a cluster chain cannot be followed.
enum class ChainError {
  None,
  StartOutOfRange, // the first cluster is not a data cluster of the volume
  OutOfRange,      // an entry points outside the volume or holds a reserved value
  FreeInChain,     // the chain runs into a free cluster
  BadCluster,      // the chain runs into a cluster marked bad
  Loop,            // the chain comes back on itself
};
std::string DescribeChainError(ChainError error);

// The active FAT, held in memory for the life of the volume. Changes are
// made here first and then written, sector by sector, to every FAT copy
// the volume keeps in step.
//
// An entry can change here before it may change on disk (a link that must
// wait until the data it leads to is durable): Defer changes the entry as
// everyone reads it while the disk keeps its value, and Stage later lets
// the disk have a value. Flush writes only what the disk may have, so a
// sector written for one change never carries another change too early.
class FatTable {
public:
  // Reads the active FAT in large blocks. Returns an empty text, or what is
  // wrong.
  std::string Load(BlockDevice& device, const FatLayout& layout);

  // The entry of a cluster, without its reserved high bits.
  uint32_t Get(uint32_t cluster) const { return Entries[cluster] & kFatEntryMask; }
  // Changes an entry, keeping its reserved high bits, and marks its sector.
  void Set(uint32_t cluster, uint32_t value);
  // Changes an entry as read here; the disk keeps the value it may have
  // until Stage lets it have another.
  void Defer(uint32_t cluster, uint32_t value);
  // Lets the disk have `value` for an entry (written by the next Flush).
  void Stage(uint32_t cluster, uint32_t value);
  // Entries whose disk value still differs from the one read here.
  size_t DeferredCount() const { return DiskValues.size(); }
  // Entry 1 carries the volume's clean and error flags.
  uint32_t Flags() const { return Entries[1] & kFatEntryMask; }
  void SetFlags(uint32_t value) { Set(1, value); }

  bool IsFree(uint32_t cluster) const { return Get(cluster) == kFatFree; }
  // One bit per cluster of [first, first + count), set where the cluster is
  // in use (bad clusters included), least significant bit first: the
  // volume bitmap's layout. Fills (count + 7) / 8 bytes of `out`.
  void AllocationBits(uint32_t first, uint32_t count, uint8_t* out) const;
  uint32_t FreeCount() const { return Free; }
  // The lowest free cluster, or 0 when none is free (the FSInfo hint).
  uint32_t FirstFreeCluster() const;

  // Follows the chain that starts at `first`. On error `clusters` holds the
  // part that could be followed.
  ChainError ReadChain(uint32_t first, std::vector<uint32_t>& clusters) const;
  // Whether the entry ends a chain, or continues it at a valid cluster.
  bool IsEndOfChain(uint32_t value) const { return value >= kFatEndOfChainMin; }

  bool HasChanges() const { return DirtyFirst <= DirtyLast; }
  // Writes the changed sectors to every FAT copy that is kept in step, the
  // active copy first. False on a write error.
  bool Flush(BlockDevice& device);
  // Compares the other copies kept in step with the active one, over the
  // part that maps clusters. Returns an empty text when they agree.
  std::string CompareCopies(BlockDevice& device) const;

private:
  void MarkDirty(uint32_t cluster);
  // Replaces an entry as read here, keeping the free count.
  void Change(uint32_t cluster, uint32_t updated);
  uint32_t WithHighBits(uint32_t cluster, uint32_t value) const {
    return (Entries[cluster] & ~kFatEntryMask) | (value & kFatEntryMask);
  }
  // The covered part of the FAT as little-endian bytes, sectors [first, last].
  void SerializeSectors(uint32_t first, uint32_t last, std::vector<uint8_t>& out) const;

  FatLayout Layout;
  std::vector<uint32_t> Entries; // every entry of the sectors that map clusters
  // Raw entries as the disk must keep them, where they differ from Entries.
  std::map<uint32_t, uint32_t> DiskValues;
  uint32_t EntriesPerSector = 0;
  uint32_t Free = 0;
  std::vector<bool> DirtySectors;
  uint32_t DirtyFirst = UINT32_MAX;
  uint32_t DirtyLast = 0;
};

} // namespace quillo::fat
