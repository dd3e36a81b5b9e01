// SPDX-License-Identifier: GPL-2.0-or-later
// The zone plan of an optimise analysis.
#include <gtest/gtest.h>

#include "WalkFixture.h"

namespace quillo::test {
namespace {

// Lists filled by hand, so that the plan alone is under test.
struct ZoneWorld {
  explicit ZoneWorld(uint32_t totalClusters) : World(FileSystem::Fat, {.TotalClusters = totalClusters}) {
    Engine = World.MakeEngine();
  }
  void Add(FileList& list, std::vector<EXTENT_INFO> extents) {
    auto file = std::make_unique<FILE_INFO>();
    for (const EXTENT_INFO& extent : extents) file->Clusters += extent.Length;
    file->ExtentCount = uint32_t(extents.size());
    file->Extents = std::move(extents);
    list.push_back(std::move(file));
  }
  WalkWorld World;
  std::unique_ptr<TDefrag> Engine;
};

TEST(ZonePlan, SizeGrowsByFifteenPercentAndOneBucket) {
  // 998,000 clusters: buckets of 1,000. Rare files and directories of
  // 200,000 clusters: 200 buckets, grown to 230, plus one.
  ZoneWorld world(998000);
  world.Add(world.Engine->RareList, {{500000, 150000}});
  world.Add(world.Engine->DirectoryList, {{900000, 50000}});
  world.Engine->ComputeZones();
  EXPECT_EQ(world.Engine->ZoneEnd - world.Engine->ZoneStart, 231u * 1000u);
}

TEST(ZonePlan, TheZoneGoesWhereRareFilesLieMostDenselyBehindTheFront) {
  struct Case {
    const char* Name;
    uint32_t FrequentClusters;
    std::vector<EXTENT_INFO> Rare;
    uint32_t ZoneStart;
  };
  // 99,800 clusters: buckets of 100.
  const std::vector<Case> cases = {
      // The densest window wins: 40 buckets of rare files grow to 47, and the
      // first window holding all of buckets 700 to 729 starts at 683.
      {"Densest", 0, {{50000, 1000}, {70000, 3000}}, 68300},
      // Rare files spread evenly: no later window holds strictly more than
      // the one at the front, so the zone stays at 0.
      {"EvenTie", 0, {{0, 100}, {10000, 100}, {20000, 100}, {30000, 100}}, 0},
      // Windows below the grown front are not candidates, but the ungrown
      // front size is the first one and keeps ties.
      {"FrontKeepsTie", 10000, {{0, 300}}, 100 * 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ZoneWorld world(99800);
    if (c.FrequentClusters) world.Add(world.Engine->FrequentList, {{90000, c.FrequentClusters}});
    for (const EXTENT_INFO& extent : c.Rare) world.Add(world.Engine->RareList, {extent});
    world.Engine->ComputeZones();
    EXPECT_EQ(world.Engine->ZoneStart, c.ZoneStart);
  }
}

TEST(ZonePlan, TheFirstDensestWindowWinsATie) {
  // Two equally dense clusters of rare files; the lower one is taken.
  ZoneWorld world(99800);
  world.Add(world.Engine->RareList, {{30000, 500}});
  world.Add(world.Engine->RareList, {{60000, 500}});
  world.Engine->ComputeZones();
  // Zone of 10 * 115 / 100 + 1 = 12 buckets; the first window holding the
  // whole lower cluster starts 7 buckets below it.
  EXPECT_EQ(world.Engine->ZoneEnd - world.Engine->ZoneStart, 1200u);
  EXPECT_EQ(world.Engine->ZoneStart, 30000u - 700u);
}

TEST(ZonePlan, ExtentsAreSpreadOverTheBucketsTheyCover) {
  // Buckets of 100 and a one-bucket zone. The 40-cluster extent is split
  // 20 and 20 over buckets 9 and 10, so bucket 20 with 30 clusters is denser.
  ZoneWorld world(99800);
  world.Add(world.Engine->RareList, {{980, 40}, {2000, 30}});
  world.Engine->ComputeZones();
  EXPECT_EQ(world.Engine->ZoneStart, 2000u);
  EXPECT_EQ(world.Engine->ZoneEnd, 2100u);
}

TEST(ZonePlan, VolumesSmallerThanTheBucketCountUseOneClusterBuckets) {
  ZoneWorld world(500);
  world.Add(world.Engine->RareList, {{300, 20}});
  world.Engine->ComputeZones();
  // 20 buckets of one cluster, grown to 23, plus one.
  EXPECT_EQ(world.Engine->ZoneEnd - world.Engine->ZoneStart, 24u);
  EXPECT_EQ(world.Engine->ZoneStart, 300u - 4u);
}

TEST(ZonePlan, AZoneLargerThanTheTrackedBucketsStaysBehindTheFront) {
  // 1,995 clusters give buckets of 1 cluster, so files filling the volume
  // ask for more buckets than are tracked.
  ZoneWorld world(1995);
  world.Add(world.Engine->RareList, {{0, 1900}});
  world.Add(world.Engine->FrequentList, {{1900, 50}});
  world.Engine->ComputeZones();
  EXPECT_EQ(world.Engine->ZoneStart, 50u);
  EXPECT_EQ(world.Engine->ZoneEnd, 50u + 1900u);
}

TEST(ZonePlan, TheZoneFlashesInTheTargetColourAndReturnsToItsLook) {
  ZoneWorld world(99800);
  world.Add(world.Engine->RareList, {{50000, 1000}});
  world.Engine->Map->AddRange(50000, 1000, mcFile);
  size_t before = world.World.View.Cells;
  world.Engine->ComputeZones();
  EXPECT_GT(world.World.View.Cells, before);
  // After the refresh every cell shows its own category again.
  const TDefragMap& map = *world.Engine->Map;
  for (int x = 0; x < map.Columns(); ++x)
    for (int y = 0; y < map.Rows(); ++y)
      EXPECT_EQ(map.GetImage().Pixel(x * 8 + 4, y * 8 + 7),
                map.CellBitmap(map.CellCategory(x, y), false).Pixel(4, 7));
}

} // namespace
} // namespace quillo::test
