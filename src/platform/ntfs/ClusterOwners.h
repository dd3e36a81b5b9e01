// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/ntfs/MovePlan.h"

namespace quillo {

// Which clusters the volume's own metadata says are in use: every run of
// every non-resident attribute of every record in use, the metadata files'
// included ($MFT, $MFTMirr, $LogFile, $Boot, $Bitmap...). Built while the MFT
// is read at open, it finds clusters with two owners, and it keeps the mover
// off clusters in use even where $Bitmap says they are free. Moves keep it in
// step: the target is taken, the old clusters are given up.
class ClusterOwners {
public:
  // At most this many conflicts are kept; the rest are counted.
  static constexpr size_t kKeptConflicts = 8;

  // An attribute that claims clusters another one owns already.
  struct Conflict {
    uint64_t Record = 0;
    uint32_t AttributeType = 0;
    int64_t Clusters = 0;     // how many of its clusters were owned already
    int64_t FirstCluster = 0; // the first of them
  };

  void Reset(int64_t clusterCount);
  int64_t ClusterCount() const { return Count; }

  // Claims the allocated runs of one attribute of `record`. Clusters that
  // another run claimed already make a conflict; holes claim nothing. Runs
  // must lie within the volume.
  void Claim(uint64_t record, uint32_t attributeType, std::span<const ClusterRun> runs);

  bool IsOwned(int64_t lcn) const;
  // True when none of [lcn, lcn + length) is owned and the range lies within
  // the volume.
  bool AreFree(int64_t lcn, int64_t length) const;
  void Take(int64_t lcn, int64_t length);
  void GiveUp(int64_t lcn, int64_t length);

  // The first conflicts found while claiming, and how many in all.
  const std::vector<Conflict>& Conflicts() const { return Kept; }
  uint64_t ConflictCount() const { return Conflicting; }

  // The owned clusters among the 64 from `lcn` (a multiple of 64), bit k
  // for cluster lcn + k.
  uint64_t Word(int64_t lcn) const { return Bits[size_t(lcn / kWordBits)]; }

private:
  static constexpr int64_t kWordBits = 64;
  // Sets the range; the number of clusters of it that were set already, and
  // the first of them.
  int64_t Set(int64_t lcn, int64_t length, int64_t& firstTaken);

  int64_t Count = 0;
  std::vector<uint64_t> Bits;
  std::vector<Conflict> Kept;
  uint64_t Conflicting = 0;
};

} // namespace quillo
