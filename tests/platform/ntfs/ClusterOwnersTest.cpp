// SPDX-License-Identifier: GPL-2.0-or-later
// The map of clusters the records own: claims across word boundaries, the
// conflicts of a second claim, and moves giving clusters up and taking
// others.
#include <gtest/gtest.h>

#include "platform/ntfs/ClusterOwners.h"

namespace quillo {
namespace {

constexpr int64_t kClusters = 200; // over three 64-bit words
constexpr uint32_t kData = 0x80;

TEST(ClusterOwnersTest, SecondClaimsAreConflictsCountedFromTheirFirstOwnedCluster) {
  struct Case {
    const char* Name;
    std::vector<ClusterRun> Second;
    int64_t Clusters; // owned already; 0: no conflict
    int64_t First;
  };
  // The first claim: clusters 60-69 (across a word boundary) and 130.
  const std::vector<ClusterRun> first = {{0, 60, 10}, {10, -1, 5}, {15, 130, 1}};
  const std::vector<Case> cases = {
      {"next to it", {{0, 70, 5}, {5, 0, 60}}, 0, 0},
      {"a hole over it", {{0, -1, 200}}, 0, 0},
      {"inside it", {{0, 62, 2}}, 2, 62},
      {"over both ends", {{0, 55, 20}}, 10, 60},
      {"two runs, each touching", {{0, 100, 31}, {31, 69, 1}}, 2, 130},
      {"past the end is left to the caller", {{0, 195, 10}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ClusterOwners owners;
    owners.Reset(kClusters);
    owners.Claim(1, kData, first);
    owners.Claim(2, kData, c.Second);
    if (c.Clusters == 0) {
      EXPECT_EQ(owners.ConflictCount(), 0u);
      continue;
    }
    ASSERT_EQ(owners.ConflictCount(), 1u);
    const ClusterOwners::Conflict& conflict = owners.Conflicts().front();
    EXPECT_EQ(conflict.Record, 2u);
    EXPECT_EQ(conflict.Clusters, c.Clusters);
    EXPECT_EQ(conflict.FirstCluster, c.First);
  }
}

TEST(ClusterOwnersTest, MovesGiveUpTheOldClustersAndTakeTheNew) {
  ClusterOwners owners;
  owners.Reset(kClusters);
  owners.Claim(1, kData, std::vector<ClusterRun>{{0, 10, 5}, {5, 120, 5}});
  EXPECT_FALSE(owners.AreFree(0, 11));
  EXPECT_TRUE(owners.AreFree(0, 10));
  EXPECT_FALSE(owners.AreFree(124, 1));
  EXPECT_FALSE(owners.AreFree(kClusters - 1, 2)) << "a range past the end is never free";

  // The file moves to 60-69, across a word boundary.
  owners.GiveUp(10, 5);
  owners.GiveUp(120, 5);
  owners.Take(60, 10);
  EXPECT_TRUE(owners.AreFree(0, 60));
  EXPECT_FALSE(owners.AreFree(59, 2));
  EXPECT_TRUE(owners.AreFree(70, kClusters - 70));
  for (int64_t lcn = 60; lcn < 70; ++lcn) EXPECT_TRUE(owners.IsOwned(lcn)) << lcn;
  EXPECT_FALSE(owners.IsOwned(70));
}

} // namespace
} // namespace quillo
