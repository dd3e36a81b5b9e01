// SPDX-License-Identifier: GPL-2.0-or-later
// Analysis and passes over random in-memory volumes: whatever the layout,
// no data is lost, the volume stays sound, the map and the report tell the
// truth, and fragmented files are joined wherever free space allows.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

#include "WalkFixture.h"

namespace quillo::test {
namespace {

constexpr uint32_t kRoot = MemoryVolume::kRootIndex;
constexpr int kVolumesPerCase = 64;
// NTFS volumes keep their MFT at the front: 64 clusters, 256 records.
constexpr uint32_t kMftClusters = 64;
constexpr uint32_t kMftRecords = 256;

class Random {
public:
  explicit Random(uint32_t seed) : Engine(seed) {}
  uint32_t Pick(uint32_t low, uint32_t high) { return low + uint32_t(Engine() % (high - low + 1)); }
  bool Chance(uint32_t percent) { return Pick(1, 100) <= percent; }

private:
  std::mt19937 Engine;
};

// Free runs of the volume as it is now.
uint32_t LargestFreeRun(const MemoryVolume& volume, uint32_t total) {
  uint32_t best = 0;
  uint32_t run = 0;
  for (uint32_t lcn = 0; lcn < total; ++lcn) {
    run = volume.IsAllocated(lcn) ? 0 : run + 1;
    best = std::max(best, run);
  }
  return best;
}

// Extents as the engine reads them: allocated runs in VCN order, a run that
// continues the previous one on disk (holes between them or not) joined.
std::vector<EXTENT_INFO> ExtentsOf(const MemoryFile& file) {
  std::vector<EXTENT_INFO> out;
  for (const MemoryRun& run : file.Runs) {
    if (run.Lcn < 0) continue;
    if (!out.empty() && out.back().Lcn + out.back().Length == uint32_t(run.Lcn))
      out.back().Length += run.Length;
    else
      out.push_back({uint32_t(run.Lcn), run.Length});
  }
  return out;
}

struct Layout {
  uint32_t Total = 0;
  std::vector<uint32_t> Entries; // record numbers of every file and directory but the root
  std::map<uint32_t, bool> Recent;
};

// Finds a free run of `length` clusters, or a shorter one when the volume is
// tight; 0 when nothing is free.
uint32_t PlaceRun(MemoryVolume& volume, Random& random, uint32_t total, uint32_t& length) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    uint32_t lcn = random.Pick(1, total - length);
    bool free = true;
    for (uint32_t i = 0; i < length && free; ++i) free = !volume.IsAllocated(lcn + i);
    if (free) return lcn;
    if (attempt % 10 == 9 && length > 1) length /= 2;
  }
  return 0;
}

// Runs for a file of `clusters`, in 1 to 4 pieces, maybe with a hole.
std::vector<MemoryRun> PlaceFile(MemoryVolume& volume, Random& random, uint32_t total,
                                 uint32_t clusters, std::vector<std::pair<uint32_t, uint32_t>>& taken) {
  uint32_t pieces = std::min<uint32_t>(clusters, random.Chance(35) ? random.Pick(2, 4) : 1);
  std::vector<MemoryRun> runs;
  uint32_t left = clusters;
  for (uint32_t p = 0; p < pieces && left > 0; ++p) {
    uint32_t length = p + 1 == pieces ? left : std::max<uint32_t>(1, left / (pieces - p));
    uint32_t lcn = PlaceRun(volume, random, total, length);
    // Runs of one file must not overlap each other either.
    bool clash = lcn == 0;
    for (auto [start, len] : taken)
      if (lcn < start + len && start < lcn + length) clash = true;
    if (clash) continue;
    taken.push_back({lcn, length});
    if (!runs.empty() && random.Chance(10)) runs.push_back({-1, random.Pick(1, 8)});
    runs.push_back({int64_t(lcn), length});
    left -= length;
  }
  return runs;
}

// Volumes of more than kMftRecords entries get an MFT that holds them all.
Layout BuildVolume(WalkWorld& world, Random& random, uint32_t total, uint32_t minEntries = 10,
                   uint32_t maxEntries = 120) {
  MemoryVolume& volume = *world.Volume;
  Layout layout;
  layout.Total = total;
  if (world.Fs == FileSystem::Ntfs) {
    uint32_t records = maxEntries < kMftRecords ? kMftRecords : maxEntries + kMftRecords;
    uint32_t clusters = std::max(kMftClusters, records * WalkWorld::kRecordBytes / 4096);
    volume.Reserve(WalkWorld::kMftClusters, clusters - WalkWorld::kMftClusters);
    volume.SetNtfsLayout(0, 0, 0, int64_t(records) * WalkWorld::kRecordBytes);
  } else {
    volume.Reserve(0, 2); // the FAT and boot area
  }
  for (uint32_t r = 0; r < random.Pick(0, 3); ++r) {
    uint32_t length = random.Pick(1, 30);
    if (uint32_t lcn = PlaceRun(volume, random, total, length)) volume.Reserve(lcn, length);
  }

  std::vector<uint32_t> directories{kRoot};
  uint32_t entryCount = random.Pick(minEntries, maxEntries);
  uint32_t budget = total * random.Pick(30, 85) / 100; // clusters to fill
  uint32_t maxFile = std::max<uint32_t>(2, std::min<uint32_t>(60, budget / entryCount * 2));
  for (uint32_t e = 0; e < entryCount; ++e) {
    uint32_t parent = directories[random.Pick(0, uint32_t(directories.size() - 1))];
    std::string name = "e" + std::to_string(e);
    double daysAgo = random.Chance(30) ? random.Pick(2, 32) : random.Chance(50) ? 1 : 40;
    uint64_t written = world.DaysAgo(daysAgo);
    std::vector<std::pair<uint32_t, uint32_t>> taken;
    uint32_t index;
    if (random.Chance(15)) {
      index = volume.AddDirectory(parent, name, written);
      directories.push_back(index);
      if (random.Chance(50)) {
        std::vector<MemoryRun> runs = PlaceFile(volume, random, total, random.Pick(1, 6), taken);
        volume.SetRuns(index, runs);
      }
    } else {
      uint32_t clusters = random.Chance(5) ? 0 : random.Pick(1, maxFile);
      std::vector<MemoryRun> runs;
      if (clusters) runs = PlaceFile(volume, random, total, clusters, taken);
      index = volume.AddFile(parent, name, runs, uint64_t(clusters) * 4096, written);
      layout.Recent[index] = daysAgo >= 2 && daysAgo < 33;
    }
    layout.Entries.push_back(index);
  }
  // Scattered structures of the file system take the free space down to a
  // random share, some volumes nearly full, and cut it into pieces.
  uint32_t targetFree = total * random.Pick(2, 40) / 100;
  for (int attempt = 0; attempt < 2000 && volume.FreeClusterCount() > targetFree; ++attempt) {
    uint32_t lcn = random.Pick(1, total - 1);
    uint32_t length = 0;
    uint32_t want = random.Pick(1, 24);
    while (length < want && lcn + length < total && !volume.IsAllocated(lcn + length)) ++length;
    if (length > 0) volume.Reserve(lcn, length);
  }
  return layout;
}

struct Expected {
  std::array<int64_t, kMapCategoryCount> Categories{};
  int Files = 0;
  int Dirs = 0;
};

Expected Expect(const MemoryVolume& volume, const Layout& layout, FileSystem fs) {
  Expected expected;
  int64_t painted = 0;
  for (uint32_t index : layout.Entries) {
    const MemoryFile& file = volume.File(index);
    (file.Directory ? expected.Dirs : expected.Files)++;
    std::vector<EXTENT_INFO> extents = ExtentsOf(file);
    if (extents.empty()) continue;
    uint32_t clusters = 0;
    for (const EXTENT_INFO& extent : extents) clusters += extent.Length;
    uint8_t category = extents.size() > 1 ? mcFragmented
                       : file.Directory   ? mcDirectory
                       : layout.Recent.at(index) ? mcFrequentFile
                                                 : mcFile;
    expected.Categories[category] += clusters;
    painted += clusters;
  }
  int64_t allocated = int64_t(layout.Total) - volume.FreeClusterCount();
  int64_t mft = fs == FileSystem::Ntfs ? kMftClusters : 0;
  expected.Categories[mcMft] = mft;
  expected.Categories[mcUsed] = allocated - painted - mft;
  return expected;
}

void CheckMapAndCounts(const TDefrag& engine, const MemoryVolume& volume, const Layout& layout,
                       FileSystem fs) {
  Expected expected = Expect(volume, layout, fs);
  for (uint8_t category = 0; category < kMapCategoryCount; ++category)
    EXPECT_EQ(MapTotal(*engine.Map, category), expected.Categories[category])
        << "map category " << int(category);
  EXPECT_EQ(engine.Report->FileCount.load(), expected.Files);
  EXPECT_EQ(engine.Report->DirCount.load(), expected.Dirs);
}

// The report's counters against its entries.
void CheckReport(const TDefragReport& report) {
  int fragmented[2] = {0, 0};
  int defragged[2] = {0, 0};
  for (const FILE_INFO& entry : report.Entries()) {
    EXPECT_NE(entry.Status, fsUnmovable) << entry.Name;
    EXPECT_NE(entry.Status, fsNone) << entry.Name;
    fragmented[entry.DirFlag]++;
    if (entry.Status == fsDefragged) defragged[entry.DirFlag]++;
  }
  EXPECT_EQ(report.FragmentedFileCount.load(), fragmented[0]);
  EXPECT_EQ(report.FragmentedDirCount.load(), fragmented[1]);
  EXPECT_EQ(report.DefraggedFileCount.load(), defragged[0]);
  EXPECT_EQ(report.DefraggedDirCount.load(), defragged[1]);
}

class RandomVolumes : public ::testing::TestWithParam<std::tuple<FileSystem, uint8_t>> {};

TEST_P(RandomVolumes, KeepDataAndTruthAndJoinWhatFits) {
  auto [fs, mode] = GetParam();
  for (int v = 0; v < kVolumesPerCase; ++v) {
    uint32_t seed = uint32_t(1000 * int(fs) + 100000 * mode + v);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    Random random(seed);
    uint32_t total = random.Pick(1500, 9000);
    WalkWorld world(fs, {.TotalClusters = total});
    Layout layout = BuildVolume(world, random, total);
    MemoryVolume& volume = *world.Volume;
    std::map<uint32_t, std::vector<uint64_t>> tokens;
    for (uint32_t index : layout.Entries) tokens[index] = volume.FileTokens(index);
    auto engine = world.MakeEngine();

    // Passes until one joins nothing more; each earlier pass joins at least
    // one file and no file is ever split, so this ends.
    for (int round = 0;; ++round) {
      ASSERT_LT(round, 200);
      uint32_t largestFree = LargestFreeRun(volume, total);
      engine->State = dsAnalyzing;
      engine->Analyze(mode);
      ASSERT_EQ(engine->State.load(), dsAnalyzed);
      CheckMapAndCounts(*engine, volume, layout, fs);
      CheckReport(*engine->Report);

      engine->State = dsDefragging;
      engine->Defrag(mode);
      ASSERT_EQ(engine->State.load(), dsDefragged);
      for (uint32_t index : layout.Entries)
        ASSERT_EQ(volume.FileTokens(index), tokens[index]) << volume.PathOf(index);
      ASSERT_EQ(volume.CheckConsistency(), "");
      CheckMapAndCounts(*engine, volume, layout, fs);
      CheckReport(*engine->Report);
      EXPECT_EQ(volume.OpenHandleCount(), 1u);
      for (const FILE_INFO& entry : engine->Report->Entries()) {
        if (entry.Status != fsDefragged) continue;
        EXPECT_EQ(entry.ExtentCount, 1u) << entry.Name;
      }
      if (::testing::Test::HasFailure()) return;

      if (engine->Report->DefraggedFileCount + engine->Report->DefraggedDirCount == 0) {
        // Fragmented files go first and nothing was joined, so each of them
        // saw the whole free space of the volume: none fitted anywhere.
        for (uint32_t index : layout.Entries) {
          std::vector<EXTENT_INFO> extents = ExtentsOf(volume.File(index));
          if (extents.size() < 2) continue;
          uint32_t clusters = 0;
          for (const EXTENT_INFO& extent : extents) clusters += extent.Length;
          EXPECT_GT(clusters, largestFree) << volume.PathOf(index);
        }
        break;
      }
    }
  }
}

// Hands steps from a job thread to the thread that calls Serve, as a
// window's event loop does.
class ServingDispatcher final : public UiDispatcher {
public:
  void RunAndWait(const std::function<void()>& step) override {
    std::unique_lock<std::mutex> lock(Lock);
    Step = &step;
    Changed.notify_all();
    Changed.wait(lock, [&] { return Step == nullptr; });
  }
  // Runs the step waiting, if any; true when it ran one.
  bool Serve() {
    std::unique_lock<std::mutex> lock(Lock);
    if (Step == nullptr) return false;
    (*Step)();
    Step = nullptr;
    Changed.notify_all();
    return true;
  }

private:
  std::mutex Lock;
  std::condition_variable Changed;
  const std::function<void()>* Step = nullptr;
};

// The job thread only notes the map's changes while the UI thread applies
// them now and then: once the job is done and they are applied a last time,
// the picture, the progress and the caption are those of a job that handed
// every change over and waited.
TEST_P(RandomVolumes, CoalescedMapChangesEndInTheSamePicture) {
  auto [fs, mode] = GetParam();
  constexpr int kVolumes = 12;
  for (int v = 0; v < kVolumes; ++v) {
    uint32_t seed = uint32_t(7000 + 1000 * int(fs) + 100 * mode + v);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    struct Outcome {
      std::vector<MapColor> Pixels;
      std::string Label;
      uint32_t Progress = 0;
    };
    auto run = [&](TDefragMap::DrawHandOver handOver) {
      Random random(seed);
      uint32_t total = random.Pick(1500, 9000);
      WalkWorld world(fs, {.TotalClusters = total});
      BuildVolume(world, random, total);
      ServingDispatcher dispatcher;
      EngineServices services{world.Time, dispatcher, world.Notifier, handOver};
      std::unique_ptr<TDefrag> engine;
      std::atomic<TDefragMap*> map{nullptr};
      std::atomic<bool> done{false};
      std::thread job([&] {
        if (fs == FileSystem::Fat)
          engine = std::make_unique<TFatDefrag>("c:", world.Volume, services);
        else
          engine = std::make_unique<TNtfsDefrag>("c:", world.Volume, services);
        map = engine->Map.get();
        engine->State = dsAnalyzing;
        engine->Analyze(mode);
        engine->State = dsDefragging;
        engine->Defrag(mode);
        done = true;
      });
      std::mt19937 applying(seed);
      while (!done) {
        if (!dispatcher.Serve()) std::this_thread::yield();
        // Now and then, as a repaint timer would: seldom enough that many
        // drawings of a cell are replaced before they are applied.
        if (TDefragMap* shown = map.load(); shown && applying() % 4096 == 0) shown->ApplyPendingChanges();
      }
      job.join();
      engine->Map->ApplyPendingChanges();
      return Outcome{engine->Map->GetImage().Pixels, engine->Map->GetLabel(),
                     engine->Map->GetProgressBar()};
    };
    Outcome perCell = run(TDefragMap::DrawHandOver::PerCell);
    Outcome coalesced = run(TDefragMap::DrawHandOver::Coalesced);
    ASSERT_FALSE(perCell.Pixels.empty());
    EXPECT_TRUE(coalesced.Pixels == perCell.Pixels);
    EXPECT_EQ(coalesced.Label, perCell.Label);
    EXPECT_EQ(coalesced.Progress, perCell.Progress);
  }
}

// The pass reads the bitmap again after every 30th file and changes its
// free-space structures only where the volume or its own takings changed.
// Passes on larger volumes (hundreds of fragmented files, many readings)
// must end exactly as passes that built the structures afresh each time:
// the same places for every file, the same report and the same map.
TEST_P(RandomVolumes, PiecewiseFreeSpaceEndsAsRebuildingItAfresh) {
  auto [fs, mode] = GetParam();
  constexpr int kVolumes = 8;
  constexpr int kPasses = 3;
  for (int v = 0; v < kVolumes; ++v) {
    uint32_t seed = uint32_t(9000 + 1000 * int(fs) + 100 * mode + v);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    struct Outcome {
      std::vector<std::vector<EXTENT_INFO>> Extents;
      std::vector<std::pair<std::string, uint8_t>> Entries;
      std::vector<MapColor> Pixels;
      size_t Fragmented = 0;
    };
    auto run = [&](bool whole) {
      Random random(seed);
      uint32_t total = random.Pick(20000, 50000);
      WalkWorld world(fs, {.TotalClusters = total});
      Layout layout = BuildVolume(world, random, total, 800, 1500);
      auto engine = world.MakeEngine();
      engine->WholeFreeSpaceReads = whole;
      Outcome outcome;
      for (int pass = 0; pass < kPasses; ++pass) {
        engine->State = dsAnalyzing;
        engine->Analyze(mode);
        outcome.Fragmented += engine->FragmentedList.size();
        engine->State = dsDefragging;
        engine->Defrag(mode);
        for (uint32_t index : layout.Entries) outcome.Extents.push_back(ExtentsOf(world.Volume->File(index)));
        for (const FILE_INFO& entry : engine->Report->Entries())
          outcome.Entries.push_back({entry.Name, entry.Status});
      }
      outcome.Pixels = engine->Map->GetImage().Pixels;
      return outcome;
    };
    Outcome afresh = run(true);
    Outcome piecewise = run(false);
    // Enough files for many readings of the bitmap in each pass.
    EXPECT_GT(afresh.Fragmented, 150u);
    EXPECT_TRUE(piecewise.Extents == afresh.Extents);
    EXPECT_EQ(piecewise.Entries, afresh.Entries);
    EXPECT_TRUE(piecewise.Pixels == afresh.Pixels);
    if (::testing::Test::HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RandomVolumes,
    ::testing::Combine(::testing::Values(FileSystem::Fat, FileSystem::Ntfs),
                       ::testing::Values(uint8_t(dmFast), uint8_t(dmOptimize))),
    [](const auto& info) {
      return FsTestName(std::get<0>(info.param)) +
             (std::get<1>(info.param) == dmFast ? "Fast" : "Optimize");
    });

} // namespace
} // namespace quillo::test
