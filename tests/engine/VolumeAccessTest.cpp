// SPDX-License-Identifier: GPL-2.0-or-later
// Geometry, bitmap, extents and moves over the in-memory volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <vector>

#include "EngineFixture.h"

namespace quillo::test {
namespace {

using Extents = std::vector<EXTENT_INFO>;

std::vector<EXTENT_INFO> TreeExtents(const CCTree& tree) {
  std::vector<EXTENT_INFO> out;
  std::vector<const FREE_NODE*> stack;
  if (tree.Root()) stack.push_back(tree.Root());
  while (!stack.empty()) {
    const FREE_NODE* node = stack.back();
    stack.pop_back();
    out.push_back({node->Lcn, node->Length});
    if (node->Left) stack.push_back(node->Left);
    if (node->Right) stack.push_back(node->Right);
  }
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.Lcn < b.Lcn; });
  return out;
}

std::vector<EXTENT_INFO> ListExtents(const CCList& list) {
  std::vector<EXTENT_INFO> out;
  for (size_t i = 0; i < list.Count(); ++i) out.push_back({list.At(i)->Lcn, list.At(i)->Length});
  return out;
}

int64_t MapTotal(const TDefragMap& map, uint8_t category) {
  int64_t total = 0;
  for (int x = 0; x < map.Columns(); ++x)
    for (int y = 0; y < map.Rows(); ++y) total += map.Count(category, x, y);
  return total;
}

// --- Construction ---

TEST(EngineConstruction, ReadsGeometryAndPreparesMapAndReport) {
  EngineWorld world({.TotalClusters = 4096, .SectorsPerCluster = 8, .BytesPerSector = 512});
  world.Volume->Reserve(0, 96);
  auto engine = world.MakeEngine();
  EXPECT_EQ(engine->VolumeName, "C:");
  EXPECT_EQ(engine->State.load(), dsIdle);
  EXPECT_EQ(engine->TotalClusters, 4096u);
  EXPECT_EQ(engine->FreeClusters, 4000u);
  EXPECT_EQ(engine->TotalBytes, 4096 * 4096);
  EXPECT_EQ(engine->FreeBytes, 4000 * 4096);
  VolumeFigures figures = engine->Report->GetVolumeFigures();
  EXPECT_EQ(figures.VolumeName, "C:");
  EXPECT_EQ(figures.TotalBytes, 4096u * 4096u);
  EXPECT_EQ(engine->Map->Columns(), 74);
  EXPECT_EQ(engine->Map->Rows(), 22);
  EXPECT_EQ(engine->Map->GetLabel(), "C:\\");
  EXPECT_NE(engine->VolumeHandle, kInvalidHandle);
}

TEST(EngineConstruction, FailuresRaiseTheirTexts) {
  struct Case {
    MemoryOperation Fault;
    const char* Text;
  };
  for (const Case& c : {Case{MemoryOperation::Geometry, "GetVolumeInfoError"},
                        Case{MemoryOperation::OpenVolume, "OpenDiskError"}}) {
    EngineWorld world;
    world.Volume->FailOperation(c.Fault);
    try {
      world.MakeEngine();
      ADD_FAILURE() << "no error for " << c.Text;
    } catch (const DefragError& error) {
      EXPECT_STREQ(error.what(), c.Text);
    }
  }
}

TEST(EngineConstruction, ReleaseWhileIdleClosesAndReopensTheVolume) {
  EngineWorld world;
  auto engine = world.MakeEngine();
  EXPECT_TRUE(engine->ReopenVolume()); // flag clear: nothing to do
  engine->ReleaseWhileIdle = true;
  engine->ReleaseVolume();
  EXPECT_EQ(engine->VolumeHandle, kInvalidHandle);
  EXPECT_EQ(world.Volume->OpenHandleCount(), 0u);
  EXPECT_TRUE(engine->ReopenVolume());
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
  engine->ReleaseVolume();
  world.Volume->FailOperation(MemoryOperation::OpenVolume, kStatusUnsuccessful, 1);
  EXPECT_FALSE(engine->ReopenVolume());
}

// --- Bitmap ---

// One layout read under several answer shapes must give the same free runs
// and the same used count.
struct BitmapShape {
  const char* Name;
  std::function<void(MemoryVolume&)> Configure;
};

class BitmapReading : public ::testing::TestWithParam<BitmapShape> {};

TEST_P(BitmapReading, FreeRunsAreRecordedOnceWithTheirTrueStartAndLength) {
  constexpr uint32_t kTotal = 1400000;
  EngineWorld world({.TotalClusters = kTotal});
  // Used runs around a free run that crosses the 655,360-cluster answer
  // boundary; the volume's last cluster is free.
  world.Volume->Reserve(0, 655350);
  world.Volume->Reserve(655370, 100000);
  world.Volume->Reserve(755370, kTotal - 1 - 755370);
  auto engine = world.MakeEngine();
  GetParam().Configure(*world.Volume);

  ASSERT_TRUE(engine->ReadFreeSpace(dmFast));
  EXPECT_EQ(TreeExtents(engine->FastFree),
            (Extents{{655350, 20}, {kTotal - 1, 1}}));

  ASSERT_TRUE(engine->ReadFreeSpace(0));
  EXPECT_EQ(MapTotal(*engine->Map, mcUsed), int64_t(kTotal - 21));

  engine->ZoneStart = 700000;
  engine->ZoneEnd = 800000;
  ASSERT_TRUE(engine->ReadFreeSpace(dmOptimize));
  EXPECT_EQ(ListExtents(engine->FrontFree), (Extents{{655350, 20}}));
  EXPECT_EQ(ListExtents(engine->BackFree), (Extents{{kTotal - 1, 1}}));
  EXPECT_EQ(TreeExtents(engine->MiddleFree), Extents{});
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BitmapReading,
    ::testing::Values(
        BitmapShape{"Full", [](MemoryVolume&) {}},
        BitmapShape{"LowerStart", [](MemoryVolume& v) { v.SetBitmapLowerStart(1000); }},
        BitmapShape{"Pending", [](MemoryVolume& v) { v.AnswerPending(MemoryOperation::Bitmap, 100); }}),
    [](const auto& info) { return info.param.Name; });

TEST(BitmapReading, PendingWaitsThreeHundredMilliseconds) {
  EngineWorld world({.TotalClusters = 1000});
  auto engine = world.MakeEngine();
  world.Volume->AnswerPending(MemoryOperation::Bitmap, 1);
  ASSERT_TRUE(engine->ReadFreeSpace(dmFast));
  EXPECT_EQ(world.Time.Sleeps(), std::vector<uint32_t>{300});
  EXPECT_EQ(TreeExtents(engine->FastFree), (Extents{{0, 1000}}));
}

TEST(BitmapReading, AFailedAnswerFails) {
  EngineWorld world({.TotalClusters = 1000});
  auto engine = world.MakeEngine();
  world.Volume->FailOperation(MemoryOperation::Bitmap, kStatusUnsuccessful, 1);
  EXPECT_FALSE(engine->ReadFreeSpace(dmFast));
}

TEST(BitmapReading, ASecondAnswerThatFailsFails) {
  EngineWorld world({.TotalClusters = 700000});
  auto engine = world.MakeEngine();
  world.Volume->FailOperation(MemoryOperation::Bitmap, kStatusAccessDenied, 1, 1);
  EXPECT_FALSE(engine->ReadFreeSpace(0));
}

TEST(BitmapReading, FreeRunsAreFiledByTheRegionOfTheirFirstCluster) {
  EngineWorld world({.TotalClusters = 1000});
  world.Volume->Reserve(10, 90);  // free 0-9
  world.Volume->Reserve(150, 50); // free 100-149 (starts in the zone)
  world.Volume->Reserve(300, 600); // free 200-299, and 900-999 past the zone
  auto engine = world.MakeEngine();
  engine->ZoneStart = 100;
  engine->ZoneEnd = 200;
  ASSERT_TRUE(engine->ReadFreeSpace(dmOptimize));
  EXPECT_EQ(ListExtents(engine->FrontFree), (Extents{{0, 10}}));
  EXPECT_EQ(TreeExtents(engine->MiddleFree), (Extents{{100, 50}, {200, 100}}));
  EXPECT_EQ(ListExtents(engine->BackFree), (Extents{{900, 100}}));
}

// The runs of a bitmap read bit by bit, as plainly as it can be written: the
// reference for the engine's run-at-a-time scan. Free and used runs in the
// order the scan closes them.
struct BitmapRun {
  bool Free;
  uint32_t Start;
  uint32_t Length;
};

bool ReadRunsBitByBit(VolumeDevice& device, Handle volume, std::vector<BitmapRun>& runs) {
  auto bitmap = std::make_unique<VolumeBitmapBuffer>();
  uint32_t usedRun = 0;
  uint32_t freeRun = 0;
  int64_t start = 0;
  while (true) {
    IoStatusBlock iosb;
    NtStatus status = device.GetVolumeBitmap(volume, start, *bitmap, iosb);
    if (status != kStatusSuccess && status != kStatusBufferOverflow) return false;
    int64_t base = bitmap->StartingLcn;
    uint64_t k = uint64_t(start - base);
    uint64_t limit = std::min<uint64_t>(uint64_t(bitmap->BitmapSize), kBitmapCapacityClusters);
    for (; k < limit; ++k) {
      uint32_t lcn = uint32_t(base + int64_t(k));
      if (((bitmap->Buffer[k / 8] >> (k % 8)) & 1) == 0) {
        if (usedRun > 0) runs.push_back({false, lcn - usedRun, usedRun});
        usedRun = 0;
        ++freeRun;
      } else {
        if (freeRun > 0) runs.push_back({true, lcn - freeRun, freeRun});
        freeRun = 0;
        ++usedRun;
      }
    }
    uint32_t end = uint32_t(base + int64_t(k));
    if (status == kStatusSuccess) {
      if (freeRun > 0) runs.push_back({true, end - freeRun, freeRun});
      if (usedRun > 0) runs.push_back({false, end - usedRun, usedRun});
      return true;
    }
    start = base + int64_t(k);
  }
}

// The whole shape of a tree, in pre-order with a marker for each empty link.
std::vector<std::array<int64_t, 2>> TreeShape(const CCTree& tree) {
  constexpr int64_t kEmpty = -1;
  std::vector<std::array<int64_t, 2>> shape;
  std::vector<const FREE_NODE*> stack{tree.Root()};
  while (!stack.empty()) {
    const FREE_NODE* node = stack.back();
    stack.pop_back();
    if (!node) {
      shape.push_back({kEmpty, kEmpty});
      continue;
    }
    shape.push_back({node->Lcn, node->Length});
    stack.push_back(node->Right);
    stack.push_back(node->Left);
  }
  return shape;
}

// Random alternating runs; lengths from a few ranges so that runs end inside
// words, on word boundaries, span whole words and span answers.
void ReserveRandomRuns(MemoryVolume& volume, uint32_t total, std::mt19937& random) {
  const std::array<std::pair<uint32_t, uint32_t>, 5> lengthRanges{
      {{1, 3}, {1, 130}, {60, 68}, {1, 5000}, {20000, 200000}}};
  bool used = random() % 2 == 0;
  for (uint32_t at = 0; at < total;) {
    auto [low, high] = lengthRanges[random() % (lengthRanges.size() * 4 - 1) / 4];
    uint32_t length = std::min(total - at, low + uint32_t(random() % (high - low + 1)));
    if (used) volume.Reserve(at, length);
    used = !used;
    at += length;
  }
}

TEST(BitmapReading, RunsMatchABitByBitReadOnRandomBitmaps) {
  constexpr int kVolumes = 24;
  constexpr uint32_t kSeed = 77031;
  constexpr uint32_t kMaxLowerStart = 5000;
  std::mt19937 random(kSeed);
  for (int v = 0; v < kVolumes; ++v) {
    // Every third volume needs more than one answer.
    uint32_t total = v % 3 == 2 ? kBitmapCapacityClusters + 1 + random() % 700000
                                : 1 + random() % 20000;
    uint32_t lowerStart = random() % 2 == 0 ? 0 : 1 + random() % kMaxLowerStart;
    SCOPED_TRACE("volume " + std::to_string(v) + ": " + std::to_string(total) +
                 " clusters, answers " + std::to_string(lowerStart) + " lower");
    EngineWorld world({.TotalClusters = total});
    ReserveRandomRuns(*world.Volume, total, random);
    auto engine = world.MakeEngine();
    world.Volume->SetBitmapLowerStart(lowerStart);

    std::vector<BitmapRun> runs;
    ASSERT_TRUE(ReadRunsBitByBit(*world.Volume, engine->VolumeHandle, runs));

    ASSERT_TRUE(engine->ReadFreeSpace(dmFast));
    CCTree fastFree(world.Notifier);
    for (const BitmapRun& run : runs)
      if (run.Free) fastFree.InsertExtent(run.Start, run.Length);
    EXPECT_EQ(TreeShape(engine->FastFree), TreeShape(fastFree));

    engine->ZoneStart = random() % total;
    engine->ZoneEnd = engine->ZoneStart + random() % (total - engine->ZoneStart);
    ASSERT_TRUE(engine->ReadFreeSpace(dmOptimize));
    CCList frontFree;
    CCList backFree;
    CCTree middleFree(world.Notifier);
    for (const BitmapRun& run : runs) {
      if (!run.Free) continue;
      if (run.Start < engine->ZoneStart)
        frontFree.AddNode(run.Start, run.Length);
      else if (run.Start > engine->ZoneEnd)
        backFree.AddNode(run.Start, run.Length);
      else
        middleFree.InsertExtent(run.Start, run.Length);
    }
    EXPECT_EQ(ListExtents(engine->FrontFree), ListExtents(frontFree));
    EXPECT_EQ(ListExtents(engine->BackFree), ListExtents(backFree));
    EXPECT_EQ(TreeShape(engine->MiddleFree), TreeShape(middleFree));

    ASSERT_TRUE(engine->ReadFreeSpace(0));
    TDefragMap map(total, world.Dispatcher);
    map.InitMap(TDefragMap::kMapWidth, TDefragMap::kMapHeight, TDefragMap::kCellSize,
                TDefragMap::kCellSize);
    for (const BitmapRun& run : runs)
      if (!run.Free) map.AddRange(run.Start, run.Length, mcUsed);
    for (int x = 0; x < map.Columns(); ++x)
      for (int y = 0; y < map.Rows(); ++y) {
        ASSERT_EQ(engine->Map->Count(mcUsed, x, y), map.Count(mcUsed, x, y))
            << "cell " << x << "," << y;
        ASSERT_EQ(engine->Map->Count(mcFree, x, y), map.Count(mcFree, x, y))
            << "cell " << x << "," << y;
      }
  }
}

// --- Extents ---

struct ExtentCase {
  const char* Name;
  std::vector<MemoryRun> Runs;
  Extents Expected;
  uint32_t Virtual;
};

class ExtentReading : public ::testing::TestWithParam<ExtentCase> {};

TEST_P(ExtentReading, MergesAdjacentRunsAndCountsHoles) {
  const ExtentCase& c = GetParam();
  for (uint32_t capacity : {kRetrievalCapacity, 1u, 2u}) {
    EngineWorld world({.TotalClusters = 1000});
    world.Volume->AddFile(MemoryVolume::kRootIndex, "f", c.Runs, 4096);
    world.Volume->SetRetrievalCapacity(capacity);
    auto engine = world.MakeEngine();
    FILE_INFO file;
    file.Name = "C:\\f";
    file.ExtentCount = 99;
    ASSERT_TRUE(engine->ReadExtents(file)) << "capacity " << capacity;
    EXPECT_EQ(file.Extents, c.Expected) << "capacity " << capacity;
    EXPECT_EQ(file.ExtentCount, c.Expected.size());
    uint32_t clusters = 0;
    for (auto& e : c.Expected) clusters += e.Length;
    EXPECT_EQ(file.Clusters, clusters);
    EXPECT_EQ(file.VirtualClusters, c.Virtual);
    EXPECT_EQ(world.Volume->OpenHandleCount(), 1u); // only the volume
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtentReading,
    ::testing::Values(
        ExtentCase{"Single", {{100, 8}}, {{100, 8}}, 0},
        ExtentCase{"AdjacentMerged", {{100, 5}, {105, 5}}, {{100, 10}}, 0},
        ExtentCase{"Fragmented", {{300, 5}, {100, 5}, {200, 1}}, {{300, 5}, {100, 5}, {200, 1}}, 0},
        ExtentCase{"HoleKeepsRunOpen", {{100, 5}, {-1, 3}, {105, 5}}, {{100, 10}}, 3},
        ExtentCase{"HoleBetweenFragments", {{100, 5}, {-1, 3}, {200, 5}}, {{100, 5}, {200, 5}}, 3},
        ExtentCase{"SparseOneRun", {{-1, 4}, {100, 5}, {-1, 7}}, {{100, 5}}, 11},
        // A run that starts at LCN 0 is never appended.
        ExtentCase{"RunAtLcnZero", {{0, 5}, {10, 5}}, {{10, 5}}, 0}),
    [](const auto& info) { return info.param.Name; });

TEST(ExtentReading, FilesWithoutClustersOrUnreadableExtentsFail) {
  EngineWorld world({.TotalClusters = 1000});
  uint32_t resident = world.Volume->AddFile(MemoryVolume::kRootIndex, "small", {}, 100);
  world.Volume->SetResident(resident, true);
  world.Volume->AddFile(MemoryVolume::kRootIndex, "empty", {}, 0);
  world.Volume->AddFile(MemoryVolume::kRootIndex, "broken", {{10, 5}}, 100);
  world.Volume->FailOperation(MemoryOperation::RetrievalPointers, kStatusUnsuccessful, -1, 0,
                              "C:\\broken");
  auto engine = world.MakeEngine();
  for (const char* name : {"C:\\small", "C:\\empty", "C:\\broken", "C:\\missing"}) {
    FILE_INFO file;
    file.Name = name;
    EXPECT_FALSE(engine->ReadExtents(file)) << name;
    EXPECT_EQ(file.ExtentCount, 0u);
  }
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
}

TEST(ExtentReading, PendingAnswersAreWaitedFor) {
  EngineWorld world({.TotalClusters = 1000});
  world.Volume->AddFile(MemoryVolume::kRootIndex, "f", {{10, 5}, {30, 5}, {50, 5}}, 100);
  world.Volume->SetRetrievalCapacity(1);
  world.Volume->AnswerPending(MemoryOperation::RetrievalPointers, 3);
  auto engine = world.MakeEngine();
  FILE_INFO file;
  file.Name = "C:\\f";
  ASSERT_TRUE(engine->ReadExtents(file));
  EXPECT_EQ(file.Extents, (Extents{{10, 5}, {30, 5}, {50, 5}}));
  EXPECT_EQ(world.Time.Sleeps(), (std::vector<uint32_t>{300, 300, 300}));
}

// --- Moves ---

struct MoveWorld : EngineWorld {
  MoveWorld() : EngineWorld({.TotalClusters = 20000}) {}

  FILE_INFO Read(const std::string& name) {
    FILE_INFO file;
    file.Name = "C:\\" + name;
    EXPECT_TRUE(Engine->ReadExtents(file));
    return file;
  }
  void Start() { Engine = MakeEngine(); }
  std::unique_ptr<PathEngine> Engine;
};

TEST(MoveFileTo, MovesInChunksOf1024Clusters) {
  struct Case {
    uint32_t Clusters;
    std::vector<uint32_t> Requests;
  };
  for (const Case& c : {Case{2500, {1024, 1024, 452}}, Case{2048, {1024, 1024}},
                        Case{700, {700}}}) {
    MoveWorld world;
    uint32_t half = c.Clusters / 2;
    uint32_t index = world.Volume->AddFile(
        MemoryVolume::kRootIndex, "big", {{100, half}, {5000, c.Clusters - half}}, 1);
    world.Start();
    auto before = world.Volume->FileTokens(index);
    FILE_INFO file = world.Read("big");
    ASSERT_TRUE(world.Engine->MoveFileTo(file, 10000));

    auto moves = world.Volume->MoveLog();
    ASSERT_EQ(moves.size(), c.Requests.size());
    for (size_t b = 0; b < moves.size(); ++b) {
      EXPECT_EQ(moves[b].ClusterCount, c.Requests[b]);
      EXPECT_EQ(moves[b].StartingVcn, int64_t(b * 1024));
      EXPECT_EQ(moves[b].StartingLcn, int64_t(10000 + b * 1024));
    }
    EXPECT_EQ(world.Engine->Report->ClustersMoved.load(), c.Clusters);
    EXPECT_EQ(world.Volume->FileTokens(index), before);
    EXPECT_EQ(world.Read("big").Extents, (Extents{{10000, c.Clusters}}));
    EXPECT_EQ(world.Volume->CheckConsistency(), "");
    EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
  }
}

TEST(MoveFileTo, AFileWithHolesMovesInOneRequest) {
  MoveWorld world;
  uint32_t index = world.Volume->AddFile(MemoryVolume::kRootIndex, "sparse",
                                         {{100, 600}, {-1, 2000}, {3000, 600}}, 1);
  world.Start();
  auto before = world.Volume->FileTokens(index);
  FILE_INFO file = world.Read("sparse");
  ASSERT_EQ(file.VirtualClusters, 2000u);
  world.Engine->State = dsDefragPaused; // not held: one request, no checks
  ASSERT_TRUE(world.Engine->MoveFileTo(file, 10000));
  auto moves = world.Volume->MoveLog();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].StartingVcn, 0);
  EXPECT_EQ(moves[0].ClusterCount, 3200u);
  EXPECT_EQ(world.Read("sparse").Extents, (Extents{{10000, 1200}}));
  EXPECT_EQ(world.Volume->FileTokens(index), before);
  EXPECT_EQ(world.Engine->Report->ClustersMoved.load(), 1200u);
}

TEST(MoveFileTo, VerificationFailsWhenTheFileIsAsFragmentedAsBefore) {
  MoveWorld world;
  world.Volume->AddFile(MemoryVolume::kRootIndex, "f", {{100, 10}, {300, 10}}, 1);
  world.Start();
  // Every request "succeeds" without moving anything.
  world.Volume->FailOperation(MemoryOperation::MoveFile, kStatusSuccess);
  FILE_INFO file = world.Read("f");
  EXPECT_FALSE(world.Engine->MoveFileTo(file, 10000));
  EXPECT_EQ(file.Status, fsNone);
  EXPECT_EQ(file.Extents, (Extents{{100, 10}, {300, 10}})); // the record keeps its extents
}

TEST(MoveFileTo, ATargetInUseMarksTheFile) {
  MoveWorld world;
  world.Volume->AddFile(MemoryVolume::kRootIndex, "f", {{100, 10}, {300, 10}}, 1);
  world.Volume->Reserve(10015, 1);
  world.Start();
  FILE_INFO file = world.Read("f");
  EXPECT_FALSE(world.Engine->MoveFileTo(file, 10000));
  EXPECT_EQ(file.Status, fsTargetInUse);
  EXPECT_EQ(world.Read("f").Extents, (Extents{{100, 10}, {300, 10}}));
}

TEST(MoveFileTo, AFileThatCannotBeOpenedIsUnmovable) {
  MoveWorld world;
  world.Start();
  FILE_INFO file;
  file.Name = "C:\\gone";
  file.Clusters = 5;
  file.ExtentCount = 2;
  EXPECT_FALSE(world.Engine->MoveFileTo(file, 10000));
  EXPECT_EQ(file.Status, fsUnmovable);
}

TEST(MoveFileTo, PendingMovesWaitTwoHundredMilliseconds) {
  MoveWorld world;
  world.Volume->AddFile(MemoryVolume::kRootIndex, "f", {{100, 10}, {300, 10}}, 1);
  world.Start();
  world.Volume->AnswerPending(MemoryOperation::MoveFile, 1);
  FILE_INFO file = world.Read("f");
  EXPECT_TRUE(world.Engine->MoveFileTo(file, 10000));
  EXPECT_EQ(world.Time.Sleeps(), std::vector<uint32_t>{200});
}

TEST(MoveFileTo, PauseHoldsBeforeTheNextChunk) {
  MoveWorld world;
  uint32_t index =
      world.Volume->AddFile(MemoryVolume::kRootIndex, "f", {{100, 1500}, {5000, 1500}}, 1);
  world.Start();
  auto before = world.Volume->FileTokens(index);
  FILE_INFO file = world.Read("f");
  world.Engine->State = dsDefragPaused;
  size_t movesWhilePaused = 99;
  world.Time.SetSleepHook([&](uint32_t) {
    if (world.Time.SleepCount() == 3) {
      movesWhilePaused = world.Volume->MoveLog().size();
      world.Engine->State = dsDefragging;
    }
  });
  EXPECT_TRUE(world.Engine->MoveFileTo(file, 10000));
  EXPECT_EQ(movesWhilePaused, 0u);
  EXPECT_EQ(world.Time.Sleeps(), (std::vector<uint32_t>{100, 100, 100}));
  EXPECT_EQ(world.Volume->MoveLog().size(), 3u);
  EXPECT_EQ(world.Volume->FileTokens(index), before);
}

TEST(MoveFileTo, StopEndsBeforeTheNextChunkAndKeepsWhatMoved) {
  MoveWorld world;
  uint32_t index =
      world.Volume->AddFile(MemoryVolume::kRootIndex, "f", {{100, 1500}, {5000, 1500}}, 1);
  world.Start();
  auto before = world.Volume->FileTokens(index);
  FILE_INFO file = world.Read("f");
  world.Engine->Throttled = 1; // one 1 ms sleep before each chunk
  world.Engine->State = dsDefragging;
  world.Time.SetSleepHook([&](uint32_t) {
    if (world.Time.SleepCount() == 2) world.Engine->State = dsStopping;
  });
  EXPECT_FALSE(world.Engine->MoveFileTo(file, 10000));
  EXPECT_EQ(world.Volume->MoveLog().size(), 2u);
  EXPECT_EQ(world.Time.Sleeps(), (std::vector<uint32_t>{1, 1}));
  EXPECT_EQ(world.Volume->FileTokens(index), before);
  EXPECT_EQ(world.Volume->CheckConsistency(), "");
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
}

} // namespace
} // namespace quillo::test
