// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/fat/FatTable.h"
#include "platform/fat/HoldingBlockDevice.h"

namespace quillo::fat {

// How much moved work may wait for its commit; whichever is reached first.
struct CommitLimits {
  uint64_t Bytes = 64ull << 20;
  uint32_t Moves = 2048;
};

// Group commit of moves. Each move writes its data and its new chain
// entries (unreachable) at once, and hands its link switch and the release
// of its old clusters to the queue. A commit then makes many moves durable
// with two flushes instead of three per move:
//   1. flush: every pending move's data and new chain entries are durable;
//   2. write the link switches (FAT entries and directory entries); flush;
//   3. for a moved directory, the ".." entries of its subdirectories; flush;
//   4. write the releases of the old clusters (made durable by the next
//      commit's first flush, or the end of the session: until then they are
//      lost clusters at worst).
// The clusters a pending move released stay out of reach of later moves
// until the commit (Quarantined), since the file still points at them on
// disk.
class FatCommitQueue {
public:
  FatCommitQueue(HoldingBlockDevice& device, FatTable& table) : Device(device), Table(table) {}

  void SetLimits(const CommitLimits& limits) { Limits = limits; }

  // Whether any of clusters [first, first + count) was released by a move
  // that is not committed yet.
  bool Quarantined(uint32_t first, uint32_t count) const;

  // The predecessor's FAT entry of a moved range.
  void SwitchFatLink(uint32_t cluster, uint32_t value);
  // The directory entry that holds a moved first cluster.
  void SwitchEntry(uint64_t offset, const DirEntry& entry);
  // The ".." entry of a subdirectory of a moved directory.
  void FollowEntry(uint64_t offset, const DirEntry& entry);
  void Release(uint32_t cluster);
  // One move handed over, with the bytes it copied.
  void Moved(uint64_t bytes);

  bool Pending() const { return MovesPending != 0 || Device.HasHeld() || !Links.empty(); }
  bool Due() const { return BytesPending >= Limits.Bytes || MovesPending >= Limits.Moves; }
  // Makes every pending move durable. False on a write or flush error.
  bool Commit();

private:
  HoldingBlockDevice& Device;
  FatTable& Table;
  CommitLimits Limits;
  std::vector<std::pair<uint32_t, uint32_t>> Links;
  std::vector<uint32_t> Released;
  // Indexed by cluster: released by a pending move.
  std::vector<bool> Quarantine;
  uint64_t BytesPending = 0;
  uint32_t MovesPending = 0;
};

} // namespace quillo::fat
