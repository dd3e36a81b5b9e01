// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include "engine/VolumeDevice.h"
#include "platform/BlockDevice.h"
#include "platform/fat/FatCommitQueue.h"
#include "platform/fat/FatLayout.h"
#include "platform/fat/FatNamespace.h"
#include "platform/fat/FatTable.h"
#include "platform/fat/FatWriteSession.h"

namespace quillo::fat {

// The file or directory whose clusters move, as its handle knows it.
struct MoveSubject {
  bool IsRoot = false;
  bool IsDirectory = false;
  uint32_t ParentCluster = 0; // first cluster of the directory holding its entry
  uint32_t Slot = 0;          // its short entry's slot there
  uint32_t FirstCluster = 0;
};

// What a move changed that open handles must follow.
struct MoveOutcome {
  // The move is made in memory (even when the commit it started then failed).
  bool Applied = false;
  uint32_t NewFirstCluster = 0; // differs from the old one when VCN 0 moved
};

// Moves a range of a chain's clusters to free clusters, in an order that
// leaves every file readable with its old or its new clusters whenever the
// writes stop:
//   1. copy the data into the target clusters;
//   2. write the target's chain entries, not yet reachable;
//   3. switch the one link that makes them reachable: the predecessor's FAT
//      entry, or the first cluster in the directory entry (then, for a
//      directory, the ".." entries of its subdirectories);
//   4. free the old clusters.
// Steps 1 and 2 are written at once; 3 and 4 wait in the commit queue,
// which makes them durable after the data, for many moves at a time. The
// volume reads as moved from the start. A stop anywhere leaves at worst
// lost clusters.
class FatMover {
public:
  FatMover(BlockDevice& device, const FatLayout& layout, FatTable& table, FatNamespace& names,
           FatWriteSession& session, FatCommitQueue& queue);

  NtStatus Move(const MoveSubject& subject, int64_t startingVcn, int64_t startingLcn,
                uint32_t count, MoveOutcome& outcome);

private:
  // Where a 32-byte directory entry lies and what it held when planned.
  struct EntrySpot {
    uint64_t Offset = 0;
    DirEntry Entry{};
  };
  struct Plan {
    std::vector<uint32_t> Chain;
    size_t Begin = 0; // range of the chain that moves
    size_t End = 0;
    uint32_t Target = 0; // first target cluster
    bool SwitchEntry = false; // the link is the directory entry
    EntrySpot Entry;
    bool MovesDirectoryStart = false;
    std::vector<EntrySpot> ChildDotDots;
  };

  NtStatus MakePlan(const MoveSubject& subject, int64_t startingVcn, int64_t startingLcn,
                    uint32_t count, Plan& plan);
  bool ReadEntry(uint64_t offset, DirEntry& entry);
  static DirEntry WithCluster(const EntrySpot& spot, uint32_t cluster);
  NtStatus CopyData(const Plan& plan);
  // Copies chain positions [from, to) to their place in the target, run by
  // run, within the device. False on any failure.
  bool CopyRuns(const Plan& plan, size_t from, size_t to);
  void WriteNewChain(const Plan& plan);
  void SwitchLink(const Plan& plan);
  void FreeOld(const Plan& plan);

  BlockDevice& Device;
  const FatLayout& Layout;
  FatTable& Table;
  FatNamespace& Names;
  FatWriteSession& Session;
  FatCommitQueue& Queue;
  std::vector<uint8_t> CopyBuffer;
  // Bytes copied since the disk was last asked to start writing them.
  uint64_t UnsentBytes = 0;
};

} // namespace quillo::fat
