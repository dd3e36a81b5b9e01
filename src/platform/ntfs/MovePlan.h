// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillo {

// One run of an attribute's runlist. Lcn -1 is a hole (no clusters).
struct ClusterRun {
  int64_t Vcn = 0;
  int64_t Lcn = -1;
  int64_t Length = 0;
  bool operator==(const ClusterRun&) const = default;
};

// A piece of allocated clusters that a move copies.
struct MovedPiece {
  int64_t Vcn = 0;
  int64_t OldLcn = 0;
  int64_t NewLcn = 0;
  int64_t Length = 0;
};

// What moving the clusters of [startVcn, startVcn + count) to targetLcn does
// to a runlist: the allocated clusters of the range follow one another from
// the target, holes stay holes, and the runs outside the range keep their
// place. The new runlist joins neighbours that continue each other on disk.
class MovePlan {
public:
  // `runs` must cover the range without gaps.
  MovePlan(const std::vector<ClusterRun>& runs, int64_t startVcn, int64_t count,
           int64_t targetLcn);

  bool Valid() const { return IsValid; }
  const std::vector<MovedPiece>& Pieces() const { return Moved; }
  int64_t AllocatedClusters() const { return Allocated; }
  const std::vector<ClusterRun>& NewRuns() const { return Result; }

  // Joins neighbouring runs that continue each other, and neighbouring holes.
  static std::vector<ClusterRun> Join(const std::vector<ClusterRun>& runs);
  // The same, appended to `out` (joined among themselves, not with what
  // `out` already holds).
  static void JoinInto(std::span<const ClusterRun> runs, std::vector<ClusterRun>& out);

private:
  bool IsValid = false;
  int64_t Allocated = 0;
  std::vector<MovedPiece> Moved;
  std::vector<ClusterRun> Result;
};

} // namespace quillo
