// SPDX-License-Identifier: GPL-2.0-or-later
// The fast and optimising passes.
#include <gtest/gtest.h>

#include <algorithm>

#include "WalkFixture.h"

namespace quillo::test {
namespace {

constexpr uint32_t kRoot = MemoryVolume::kRootIndex;

// Marks every cluster in use that no file holds and no listed run keeps
// free, so that a test decides exactly where free space is.
void FillExcept(MemoryVolume& volume, uint32_t total, std::vector<EXTENT_INFO> freeRuns) {
  std::vector<bool> keep(total, false);
  for (const EXTENT_INFO& run : freeRuns)
    for (uint32_t i = 0; i < run.Length; ++i) keep[run.Lcn + i] = true;
  uint32_t lcn = 0;
  while (lcn < total) {
    if (keep[lcn] || volume.IsAllocated(lcn)) {
      ++lcn;
      continue;
    }
    uint32_t start = lcn;
    while (lcn < total && !keep[lcn] && !volume.IsAllocated(lcn)) ++lcn;
    volume.Reserve(start, lcn - start);
  }
}

std::vector<MemoryRun> RunsOf(const MemoryVolume& volume, const std::string& path) {
  return volume.File(*volume.FindPath(path)).Runs;
}

uint8_t StatusOf(const TDefragReport& report, const std::string& name) {
  for (const FILE_INFO& entry : report.Entries())
    if (entry.Name == name) return entry.Status;
  return 0xFF;
}

bool SameRuns(const std::vector<MemoryRun>& a, const std::vector<MemoryRun>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const MemoryRun& x, const MemoryRun& y) {
                      return x.Lcn == y.Lcn && x.Length == y.Length;
                    });
}

// --- Fast pass ---

TEST(FastPass, TakesTheSmallestFittingExtentAndTheHigherOfTwoEqualOnes) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 1000});
  world.Volume->AddFile(kRoot, "f", {{800, 20}, {850, 20}}, 40 * 4096, world.DaysAgo(100));
  FillExcept(*world.Volume, 1000, {{100, 10}, {300, 50}, {600, 50}});
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  engine->State = dsDefragging;
  engine->Defrag(dmFast);
  EXPECT_TRUE(SameRuns(RunsOf(*world.Volume, "C:\\f"), {{600, 40}}));
  for (uint32_t lcn = 640; lcn < 650; ++lcn) EXPECT_FALSE(world.Volume->IsAllocated(lcn));
  EXPECT_EQ(StatusOf(*engine->Report, "C:\\f"), fsDefragged);
  EXPECT_EQ(engine->Report->DefraggedFileCount.load(), 1);
  EXPECT_EQ(engine->Report->ClustersToMove.load(), 40u);
  EXPECT_EQ(engine->Report->ClustersMoved.load(), 40u);
  EXPECT_EQ(engine->State.load(), dsDefragged);
  EXPECT_EQ(MapTotal(*engine->Map, mcFile), 40);
  EXPECT_EQ(MapTotal(*engine->Map, mcFragmented), 0);
  EXPECT_TRUE(engine->FragmentedList.empty());
}

TEST(FastPass, AFileLargerThanEveryFreeExtentIsReportedNoSpaceAndThePassGoesOn) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 1000});
  world.Volume->AddFile(kRoot, "big", {{800, 30}, {850, 30}}, 10, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "small", {{900, 5}, {950, 5}}, 10, world.DaysAgo(100));
  FillExcept(*world.Volume, 1000, {{100, 50}});
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  engine->Defrag(dmFast);
  EXPECT_EQ(StatusOf(*engine->Report, "C:\\big"), fsNoSpace);
  EXPECT_TRUE(SameRuns(RunsOf(*world.Volume, "C:\\big"), {{800, 30}, {850, 30}}));
  EXPECT_EQ(StatusOf(*engine->Report, "C:\\small"), fsDefragged);
  EXPECT_TRUE(SameRuns(RunsOf(*world.Volume, "C:\\small"), {{100, 10}}));
  // The file left alone keeps its place on the map.
  EXPECT_EQ(MapTotal(*engine->Map, mcFragmented), 60);
}

TEST(FastPass, FilesThatCannotBeOpenedMovedOrReReadEndUnmovableAndStayOnTheMap) {
  struct Case {
    const char* Name;
    MemoryOperation Fault;
    int Skip; // calls of the operation let through after the analysis
  };
  for (const Case& c : {Case{"OpenBefore", MemoryOperation::CreateFile, 0},
                        Case{"OpenAfter", MemoryOperation::CreateFile, 4},
                        Case{"Move", MemoryOperation::MoveFile, 0},
                        Case{"ReRead", MemoryOperation::RetrievalPointers, 1}}) {
    SCOPED_TRACE(c.Name);
    WalkWorld world(FileSystem::Fat, {.TotalClusters = 1000});
    world.Volume->AddFile(kRoot, "f", {{800, 20}, {850, 20}}, 10, world.DaysAgo(100));
    auto engine = world.MakeEngine();
    engine->Analyze(dmFast);
    world.Volume->FailOperation(c.Fault, kStatusAccessDenied, -1, c.Skip, "C:\\f");
    engine->Defrag(dmFast);
    EXPECT_EQ(StatusOf(*engine->Report, "C:\\f"), fsUnmovable);
    EXPECT_EQ(engine->Report->DefraggedFileCount.load(), 0);
    EXPECT_EQ(MapTotal(*engine->Map, mcFragmented), 40);
    EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
    EXPECT_EQ(world.Volume->CheckConsistency(), "");
  }
}

TEST(FastPass, ATargetFoundInUseIsTakenOutOfTheFreeSpace) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 1000});
  // The first file takes position 0, after which the free space is read
  // again anyway.
  world.Volume->AddFile(kRoot, "first", {{700, 7}, {750, 13}}, 10, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "a", {{800, 5}, {850, 5}}, 10, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "b", {{900, 5}, {950, 5}}, 10, world.DaysAgo(100));
  FillExcept(*world.Volume, 1000, {{100, 10}, {200, 10}, {300, 20}});
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  world.Volume->FailOperation(MemoryOperation::MoveFile, kStatusAlreadyCommitted, 1, 0, "C:\\a");
  engine->Defrag(dmFast);
  // a's target (the higher extent) was refused; b does not try it again.
  EXPECT_EQ(StatusOf(*engine->Report, "C:\\a"), fsUnmovable);
  EXPECT_TRUE(SameRuns(RunsOf(*world.Volume, "C:\\b"), {{100, 10}}));
}

TEST(FastPass, FreeSpaceIsReadAgainAfterEvery30thFileThatCompletedAllSteps) {
  struct Case {
    const char* Name;
    bool FirstHasNoSpace;
    uint64_t BitmapReads;
  };
  for (const Case& c : {Case{"AllMoved", false, 3}, Case{"FirstNoSpace", true, 2}}) {
    SCOPED_TRACE(c.Name);
    WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
    for (uint32_t i = 0; i < 35; ++i) {
      bool big = i == 0 && c.FirstHasNoSpace;
      world.Volume->AddFile(kRoot, "f" + std::to_string(100 + i),
                            {{100 + i * 10, 2}, {big ? 2500 : 1000 + i * 10, big ? 500u : 2u}}, 10,
                            world.DaysAgo(100));
    }
    auto engine = world.MakeEngine();
    engine->Analyze(dmFast);
    FillExcept(*world.Volume, 4000, {{2000, 400}});
    uint64_t before = world.Volume->CallCount(MemoryOperation::Bitmap);
    engine->Defrag(dmFast);
    // One reading at the start, then after positions 0 and 30.
    EXPECT_EQ(world.Volume->CallCount(MemoryOperation::Bitmap) - before, c.BitmapReads);
  }
}

TEST(FastPass, ProgressCountsClustersDone) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  world.Volume->AddFile(kRoot, "a", {{100, 250}, {400, 250}}, 10, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "b", {{700, 250}, {1000, 250}}, 10, world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  world.View.Progress.clear();
  engine->Defrag(dmFast);
  // After a's 500 of 1,000 clusters: 500 * 10 div (1000 div 10 + 1) = 49.
  EXPECT_EQ(world.View.Progress, (std::vector<uint32_t>{49, 0}));
}

TEST(FastPass, AStopDropsTheRemainingFilesUnreportedAndResetsTheMap) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  for (uint32_t i = 0; i < 3; ++i)
    world.Volume->AddFile(kRoot, "f" + std::to_string(i), {{100 + i * 20, 5}, {1000 + i * 20, 5}},
                          10, world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  engine->State = dsDefragging;
  engine->Throttled = 1;
  TDefrag* raw = engine.get();
  // The stop arrives while the first file's only chunk is under way.
  world.Time.SetSleepHook([raw](uint32_t) { raw->State = dsStopping; });
  engine->Defrag(dmFast);
  EXPECT_EQ(engine->State.load(), dsStopping);
  EXPECT_EQ(StatusOf(*engine->Report, "C:\\f0"), fsDefragged);
  EXPECT_EQ(StatusOf(*engine->Report, "C:\\f1"), fsAnalyzed);
  EXPECT_EQ(StatusOf(*engine->Report, "C:\\f2"), fsAnalyzed);
  EXPECT_EQ(world.Volume->MoveLog().size(), 1u);
  for (uint8_t category = mcFree; category <= mcTarget; ++category)
    EXPECT_EQ(MapTotal(*engine->Map, category), 0) << int(category);
  EXPECT_NE(engine->Report->EndTime(), 0.0);
  EXPECT_TRUE(engine->FragmentedList.empty());
}

// --- Optimising pass ---

// An optimise analysis, then a zone chosen by the test.
struct OptimiseWorld {
  OptimiseWorld() : World(FileSystem::Fat, {.TotalClusters = 10000}) {}
  void Run(uint32_t zoneStart, uint32_t zoneEnd, std::vector<EXTENT_INFO> freeRuns) {
    FillExcept(*World.Volume, 10000, std::move(freeRuns));
    Engine = World.MakeEngine();
    Engine->Analyze(dmOptimize);
    Engine->ZoneStart = zoneStart;
    Engine->ZoneEnd = zoneEnd;
    World.View.Captions.clear();
    Engine->Defrag(dmOptimize);
  }
  std::vector<MemoryRun> Runs(const std::string& name) { return RunsOf(*World.Volume, "C:\\" + name); }
  WalkWorld World;
  std::unique_ptr<TDefrag> Engine;
};

TEST(OptimisePass, RareFilesInsideTheZoneStayAndOnesJustBelowMoveIn) {
  OptimiseWorld world;
  world.World.Volume->AddFile(kRoot, "below", {{4990, 5}}, 10, world.World.DaysAgo(100));
  world.World.Volume->AddFile(kRoot, "inside", {{5100, 5}}, 10, world.World.DaysAgo(100));
  world.Run(5000, 6000, {{5500, 10}});
  EXPECT_TRUE(SameRuns(world.Runs("below"), {{5500, 5}}));
  EXPECT_TRUE(SameRuns(world.Runs("inside"), {{5100, 5}}));
  EXPECT_EQ(world.World.Volume->MoveLog().size(), 1u);
  // Contiguous files are never reported.
  EXPECT_EQ(world.Engine->Report->EntryCount(), 0u);
  EXPECT_EQ(MapTotal(*world.Engine->Map, mcFile), 10);
}

TEST(OptimisePass, DirectoriesAndRecentFilesMoveOnlyDownwards) {
  OptimiseWorld world;
  uint32_t low = world.World.Volume->AddDirectory(kRoot, "low");
  world.World.Volume->SetRuns(low, {{100, 3}});
  uint32_t high = world.World.Volume->AddDirectory(kRoot, "high");
  world.World.Volume->SetRuns(high, {{7000, 3}});
  world.World.Volume->AddFile(kRoot, "recent", {{7100, 3}}, 10, world.World.DaysAgo(5));
  world.Run(8000, 9000, {{5000, 3}, {5010, 3}});
  // The lowest fitting front extent starts at 5,000: the directory at 100
  // stays; the one at 7,000 and the recent file come down.
  EXPECT_TRUE(SameRuns(world.Runs("low"), {{100, 3}}));
  EXPECT_TRUE(SameRuns(world.Runs("high"), {{5000, 3}}));
  EXPECT_TRUE(SameRuns(world.Runs("recent"), {{5010, 3}}));
}

TEST(OptimisePass, ARareFileOnlyAFrontExtentHoldsGoesToTheEndOfTheHighestOrStays) {
  struct Case {
    uint32_t From;
    uint32_t To;
  };
  // Zone 5,000 to 6,000 (middle 5,500) with no room in or behind it. The
  // highest fitting front extent ends at 3,050: a file at 1,000 comes up to
  // 3,040; one at 4,000 is nearer the middle already and stays.
  for (const Case& c : {Case{1000, 3040}, Case{4000, 4000}}) {
    SCOPED_TRACE(c.From);
    OptimiseWorld world;
    world.World.Volume->AddFile(kRoot, "rare", {{c.From, 10}}, 10, world.World.DaysAgo(100));
    world.Run(5000, 6000, {{2000, 100}, {3000, 50}, {3100, 5}});
    EXPECT_TRUE(SameRuns(world.Runs("rare"), {{c.To, 10}}));
  }
}

TEST(OptimisePass, WorksFromFragmentedToRareToDirectoriesToRecentFiles) {
  OptimiseWorld world;
  MemoryVolume& volume = *world.World.Volume;
  uint64_t old = world.World.DaysAgo(100);
  uint64_t recent = world.World.DaysAgo(5);
  volume.AddFile(kRoot, "frequent1", {{3500, 2}}, 10, recent);
  volume.AddFile(kRoot, "rare9000", {{9000, 2}}, 10, old);
  volume.AddFile(kRoot, "rare1000", {{1000, 2}}, 10, old);
  uint32_t d1 = volume.AddDirectory(kRoot, "dir3000");
  volume.SetRuns(d1, {{3000, 2}});
  volume.AddFile(kRoot, "rare8000", {{8000, 2}}, 10, old);
  volume.AddFile(kRoot, "frequent2", {{4500, 2}}, 10, recent);
  uint32_t d2 = volume.AddDirectory(kRoot, "dir4000");
  volume.SetRuns(d2, {{4000, 2}});
  volume.AddFile(kRoot, "rare2000", {{2000, 2}}, 10, old);
  volume.AddFile(kRoot, "fragmented", {{7000, 2}, {7100, 2}}, 10, old);
  world.Run(5000, 6000, {{100, 20}, {5400, 20}});
  std::vector<std::string> order;
  for (const std::string& caption : world.World.View.Captions)
    if (caption != "C:\\") order.push_back(caption.substr(3));
  EXPECT_EQ(order, (std::vector<std::string>{"fragmented", "rare1000", "rare2000", "rare9000",
                                             "rare8000", "dir4000", "dir3000", "frequent2",
                                             "frequent1"}));
  EXPECT_EQ(StatusOf(*world.Engine->Report, "C:\\fragmented"), fsDefragged);
  EXPECT_EQ(world.World.Volume->CheckConsistency(), "");
}

} // namespace
} // namespace quillo::test
