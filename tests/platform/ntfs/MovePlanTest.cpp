// SPDX-License-Identifier: GPL-2.0-or-later
// What a move request does to a runlist: the allocated clusters of the range
// follow one another from the target, holes stay holes, the rest stays put.
#include <gtest/gtest.h>

#include "platform/ntfs/MovePlan.h"

namespace quillo {
namespace {

using Runs = std::vector<ClusterRun>;

TEST(MovePlan, RangesOverRunsAndHoles) {
  // 0-9 at 100, 10-14 a hole, 15-24 at 300, 25-29 at 110 (continues nothing).
  const Runs runs = {{0, 100, 10}, {10, -1, 5}, {15, 300, 10}, {25, 110, 5}};
  struct Case {
    const char* Name;
    int64_t Start, Count, Target;
    Runs Expected;
    int64_t Allocated;
  };
  for (const Case& c : {
           Case{"the whole file, holes kept", 0, 30, 1000,
                {{0, 1000, 10}, {10, -1, 5}, {15, 1010, 15}}, 25},
           Case{"inside one run", 2, 3, 500, {{0, 100, 2}, {2, 500, 3}, {5, 105, 5}, {10, -1, 5}, {15, 300, 10}, {25, 110, 5}}, 3},
           Case{"across a hole", 8, 10, 500, {{0, 100, 8}, {8, 500, 2}, {10, -1, 5}, {15, 502, 3}, {18, 303, 7}, {25, 110, 5}}, 5},
           Case{"a hole only", 10, 5, 500, runs, 0},
           Case{"right after the run before it: joined", 25, 5, 310, {{0, 100, 10}, {10, -1, 5}, {15, 300, 15}}, 5},
       }) {
    SCOPED_TRACE(c.Name);
    MovePlan plan(runs, c.Start, c.Count, c.Target);
    ASSERT_TRUE(plan.Valid());
    EXPECT_EQ(plan.AllocatedClusters(), c.Allocated);
    EXPECT_EQ(plan.NewRuns(), c.Expected);
    int64_t next = c.Target;
    for (const MovedPiece& piece : plan.Pieces()) {
      EXPECT_EQ(piece.NewLcn, next);
      next += piece.Length;
    }
  }
}

TEST(MovePlan, RefusesRangesOutsideTheRunlistAndBrokenRunlists) {
  const Runs runs = {{0, 100, 10}, {10, 200, 10}};
  EXPECT_FALSE(MovePlan(runs, 15, 10, 500).Valid()); // past the end
  EXPECT_FALSE(MovePlan(runs, -1, 5, 500).Valid());
  EXPECT_FALSE(MovePlan(runs, 0, 0, 500).Valid());
  EXPECT_FALSE(MovePlan(runs, 0, 5, -1).Valid());
  EXPECT_FALSE(MovePlan({{0, 100, 10}, {12, 200, 10}}, 0, 5, 500).Valid()); // a gap
  EXPECT_FALSE(MovePlan({}, 0, 1, 500).Valid());
}

TEST(MovePlan, JoinMergesNeighboursOnDiskAndNeighbouringHoles) {
  EXPECT_EQ(MovePlan::Join({{0, 100, 5}, {5, 105, 5}, {10, -1, 2}, {12, -1, 3}, {15, 111, 1}, {16, 50, 0}}),
            Runs({{0, 100, 10}, {10, -1, 5}, {15, 111, 1}}));
}

} // namespace
} // namespace quillo
