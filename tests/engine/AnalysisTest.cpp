// SPDX-License-Identifier: GPL-2.0-or-later
// The analysis frame and the examination of one entry, on both walks.
#include <gtest/gtest.h>

#include "WalkFixture.h"

namespace quillo::test {
namespace {

constexpr uint32_t kRoot = MemoryVolume::kRootIndex;

class Analysis : public ::testing::TestWithParam<FileSystem> {};

std::string FsName(const ::testing::TestParamInfo<FileSystem>& info) {
  return FsTestName(info.param);
}

// --- What goes where ---

TEST_P(Analysis, SizeLimitLeavesOutFilesOfThatSizeOrMore) {
  struct Case {
    int64_t Limit;
    uint64_t Size;
    bool Listed;
  };
  for (const Case& c : {Case{0, 1ull << 40, true}, Case{4096, 4096, false},
                        Case{4096, 4095, true}, Case{4096, 4097, false}}) {
    WalkWorld world(GetParam(), {.TotalClusters = 2000});
    world.Volume->AddFile(kRoot, "f", {{100, 10}}, c.Size, world.DaysAgo(100));
    auto engine = world.MakeEngine();
    engine->SizeLimit = c.Limit;
    engine->Analyze(dmOptimize);
    SCOPED_TRACE(testing::Message() << "limit " << c.Limit << " size " << c.Size);
    EXPECT_EQ(engine->Report->FileCount.load(), 1);
    EXPECT_EQ(engine->RareList.size(), c.Listed ? 1u : 0u);
    EXPECT_EQ(MapTotal(*engine->Map, mcFile), c.Listed ? 10 : 0);
    EXPECT_EQ(MapTotal(*engine->Map, mcUsed), c.Listed ? 0 : 10);
  }
}

TEST_P(Analysis, RecentRuleSortsContiguousFilesAndLeavesFragmentedOnesFragmented) {
  struct Case {
    double DaysAgo;
    bool Fragmented;
    const char* List;
    MapCategory Category;
  };
  for (const Case& c : {Case{1.5, false, "rare", mcFile}, Case{2.0, false, "frequent", mcFrequentFile},
                        Case{32.9, false, "frequent", mcFrequentFile},
                        Case{33.0, false, "rare", mcFile}, Case{-3.0, false, "rare", mcFile},
                        Case{10.0, true, "fragmented", mcFragmented}}) {
    SCOPED_TRACE(testing::Message() << c.DaysAgo << " days, fragmented " << c.Fragmented);
    WalkWorld world(GetParam(), {.TotalClusters = 2000});
    std::vector<MemoryRun> runs = c.Fragmented ? std::vector<MemoryRun>{{100, 5}, {200, 5}}
                                               : std::vector<MemoryRun>{{100, 10}};
    world.Volume->AddFile(kRoot, "f", runs, 40960, world.DaysAgo(c.DaysAgo));
    auto engine = world.MakeEngine();
    engine->Analyze(dmOptimize);
    std::string list = engine->FragmentedList.size() ? "fragmented"
                       : engine->FrequentList.size() ? "frequent"
                       : engine->RareList.size()     ? "rare"
                                                     : "none";
    EXPECT_EQ(list, c.List);
    EXPECT_EQ(engine->FragmentedList.size() + engine->FrequentList.size() +
                  engine->RareList.size() + engine->DirectoryList.size(),
              1u);
    EXPECT_EQ(MapTotal(*engine->Map, c.Category), 10);
    EXPECT_EQ(MapTotal(*engine->Map, mcUsed), 0);
  }
}

TEST_P(Analysis, EntriesWithoutClustersAreCountedButNeitherPaintedNorListed) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "empty", {}, 0, world.DaysAgo(100));
  uint32_t resident = world.Volume->AddFile(kRoot, "small", {}, 300, world.DaysAgo(100));
  world.Volume->SetResident(resident, true);
  world.Volume->AddDirectory(kRoot, "dir");
  auto engine = world.MakeEngine();
  engine->Analyze(dmOptimize);
  EXPECT_EQ(engine->Report->FileCount.load(), 2);
  EXPECT_EQ(engine->Report->DirCount.load(), 1);
  EXPECT_TRUE(engine->RareList.empty());
  EXPECT_TRUE(engine->DirectoryList.empty());
  for (uint8_t category = mcFree; category <= mcTarget; ++category) {
    if (category != mcMftZone && category != mcMft) {
      EXPECT_EQ(MapTotal(*engine->Map, category), 0) << int(category);
    }
  }
}

TEST_P(Analysis, FastModeKeepsOnlyFragmentedFilesAndReportsThem) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "one", {{100, 10}}, 40960, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "two", {{200, 5}, {300, 5}}, 40960, world.DaysAgo(100));
  uint32_t dir = world.Volume->AddDirectory(kRoot, "dir");
  world.Volume->SetRuns(dir, {{400, 1}, {410, 1}});
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  EXPECT_EQ(Names(engine->FragmentedList), (std::vector<std::string>{"C:\\two", "C:\\dir"}));
  EXPECT_TRUE(engine->RareList.empty());
  EXPECT_TRUE(engine->DirectoryList.empty());
  for (const auto& file : engine->FragmentedList) EXPECT_EQ(file->Status, fsAnalyzed);
  EXPECT_EQ(EntryNames(*engine->Report), (std::vector<std::string>{"C:\\two", "C:\\dir"}));
  EXPECT_EQ(engine->Report->FragmentedFileCount.load(), 1);
  EXPECT_EQ(engine->Report->FragmentedDirCount.load(), 1);
  EXPECT_EQ(MapTotal(*engine->Map, mcFile), 10); // contiguous files are still painted
  EXPECT_EQ(MapTotal(*engine->Map, mcFragmented), 12);
  EXPECT_EQ(engine->State.load(), dsAnalyzed);
}

// A directory read into a record that last held a large, recent file must
// not inherit its size or its recent flag.
TEST_P(Analysis, DirectoriesCountAsNoSizeAndNotRecentEvenInAReusedRecord) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "big", {{100, 10}}, 1 << 20, world.DaysAgo(10));
  uint32_t dir = world.Volume->AddDirectory(kRoot, "dir", world.DaysAgo(10));
  world.Volume->SetRuns(dir, {{400, 1}, {410, 1}});
  auto engine = world.MakeEngine();
  engine->SizeLimit = 4096;
  engine->Analyze(dmFast);
  ASSERT_EQ(engine->FragmentedList.size(), 1u);
  const FILE_INFO& listed = *engine->FragmentedList[0];
  EXPECT_TRUE(listed.DirFlag);
  EXPECT_EQ(listed.Size, 0);
  EXPECT_FALSE(listed.Recent);
}

TEST_P(Analysis, MasksLeaveOutMatchingFilesWhichStayCounted) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "keep.txt", {{100, 10}}, 40960, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "SKIP.TMP", {{200, 5}, {300, 5}}, 40960, world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->ExcludeMasks = {"*.bak", "c:\\*.tmp"};
  engine->Analyze(dmOptimize);
  EXPECT_EQ(engine->Report->FileCount.load(), 2);
  EXPECT_EQ(Names(engine->RareList), std::vector<std::string>{"C:\\keep.txt"});
  EXPECT_TRUE(engine->FragmentedList.empty());
  EXPECT_EQ(MapTotal(*engine->Map, mcUsed), 10);
}

TEST_P(Analysis, UnreadableEntriesAreSkippedAndUnreadableExtentsStayExcluded) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "noinfo", {{100, 10}}, 40960, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "noextents", {{200, 10}}, 40960, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "badtime", {{300, 10}}, 40960, 0x8000000000000000ULL);
  world.Volume->AddFile(kRoot, "good", {{400, 10}}, 40960, world.DaysAgo(100));
  world.Volume->FailOperation(MemoryOperation::FileInformation, kStatusUnsuccessful, -1, 0,
                              "C:\\noinfo");
  world.Volume->FailOperation(MemoryOperation::RetrievalPointers, kStatusUnsuccessful, -1, 0,
                              "C:\\noextents");
  auto engine = world.MakeEngine();
  engine->Analyze(dmOptimize);
  EXPECT_EQ(engine->Report->FileCount.load(), 2); // noextents and good
  EXPECT_EQ(Names(engine->RareList), std::vector<std::string>{"C:\\good"});
  EXPECT_EQ(MapTotal(*engine->Map, mcUsed), 30);
  EXPECT_EQ(MapTotal(*engine->Map, mcFile), 10);
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u); // only the volume's
}

// --- Frame ---

TEST_P(Analysis, VolumeFailuresRaiseTheirTexts) {
  struct Case {
    MemoryOperation Fault;
    const char* Text;
  };
  for (const Case& c : {Case{MemoryOperation::Geometry, "GetVolumeInfo Error"},
                        Case{MemoryOperation::Bitmap, "GetVolumeBitmap Error"}}) {
    WalkWorld world(GetParam(), {.TotalClusters = 2000});
    auto engine = world.MakeEngine();
    world.Volume->FailOperation(c.Fault);
    try {
      engine->Analyze(dmFast);
      ADD_FAILURE() << "no error for " << c.Text;
    } catch (const DefragError& error) {
      EXPECT_STREQ(error.what(), c.Text);
    }
  }
}

TEST_P(Analysis, ANewAnalysisStartsFromEmptyListsAndAClearedReport) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "two", {{200, 5}, {300, 5}}, 40960, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "one", {{100, 5}}, 40960, world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->Analyze(dmOptimize);
  engine->Analyze(dmOptimize);
  EXPECT_EQ(engine->FragmentedList.size(), 1u);
  EXPECT_EQ(engine->RareList.size(), 1u);
  EXPECT_EQ(engine->Report->FileCount.load(), 2);
  EXPECT_EQ(engine->Report->EntryCount(), 1u);
  EXPECT_EQ(MapTotal(*engine->Map, mcFragmented), 10);
  EXPECT_EQ(world.View.Captions.back(), "C:\\");
  EXPECT_EQ(engine->Map->GetProgressBar(), 0u);
}

TEST_P(Analysis, StopEndsTheWalkAtTheNextEntryWithTheMapReset) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  for (int i = 0; i < 8; ++i)
    world.Volume->AddFile(kRoot, "f" + std::to_string(i), {{uint32_t(100 + 20 * i), 5}, {uint32_t(110 + 20 * i), 5}},
                          40960, world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->Throttled = 1;
  TDefrag* raw = engine.get();
  world.Time.SetSleepHook([raw](uint32_t) { raw->State = dsStopping; });
  engine->State = dsAnalyzing;
  engine->Analyze(dmFast);
  EXPECT_EQ(engine->State.load(), dsStopping);
  // The entry under way when the stop came is finished; no further one. The
  // first throttle sleep comes with the first entry on FAT (directory 0) and
  // with record 4 on NTFS.
  int examined = GetParam() == FileSystem::Fat ? 1 : 4;
  EXPECT_EQ(engine->Report->FileCount.load(), examined);
  EXPECT_EQ(engine->FragmentedList.size(), size_t(examined));
  for (uint8_t category = mcFree; category <= mcTarget; ++category)
    EXPECT_EQ(MapTotal(*engine->Map, category), 0) << int(category);
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
}

TEST_P(Analysis, PauseHoldsTheWalkUntilResumed) {
  WalkWorld world(GetParam(), {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "a", {{100, 5}}, 40960, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "b", {{200, 5}}, 40960, world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->State = dsAnalyzePaused;
  TDefrag* raw = engine.get();
  int pauses = 0;
  world.Time.SetSleepHook([&](uint32_t ms) {
    if (ms == kPauseWaitMs && ++pauses == 3) raw->State = dsAnalyzing;
  });
  engine->Analyze(dmOptimize);
  EXPECT_EQ(pauses, 3);
  EXPECT_EQ(engine->RareList.size(), 2u);
  EXPECT_EQ(engine->State.load(), dsAnalyzed);
}

INSTANTIATE_TEST_SUITE_P(Walks, Analysis, ::testing::Values(FileSystem::Fat, FileSystem::Ntfs),
                         FsName);

// --- ReadFileInfo ---

TEST(ReadFileInfo, ReadsSizeTimeAndKind) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "f", {{100, 1}}, 123456789012ull, world.DaysAgo(5));
  world.Volume->AddDirectory(kRoot, "d", world.DaysAgo(5));
  auto engine = world.MakeEngine();
  FILE_INFO file;
  file.Name = "C:\\f";
  file.Status = fsDefragged;
  ASSERT_TRUE(engine->ReadFileInfo(file));
  EXPECT_EQ(file.Status, fsNone);
  EXPECT_FALSE(file.DirFlag);
  EXPECT_TRUE(file.Recent);
  EXPECT_EQ(file.Size, 123456789012);
  file.Name = "C:\\d";
  ASSERT_TRUE(engine->ReadFileInfo(file));
  EXPECT_TRUE(file.DirFlag);
  EXPECT_EQ(file.Size, 0);
  EXPECT_FALSE(file.Recent);
  file.Name = "C:\\missing";
  EXPECT_FALSE(engine->ReadFileInfo(file));
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
}

// A time the calendar cannot hold (past the year 9999) is taken as "now":
// not recent, but the file is still examined.
TEST(ReadFileInfo, ATimeBeyondTheCalendarCountsAsNow) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 2000});
  world.Volume->AddFile(kRoot, "f", {{100, 1}}, 10, 0x7FFFFFFFFFFFFFFFull);
  auto engine = world.MakeEngine();
  FILE_INFO file;
  file.Name = "C:\\f";
  file.Recent = true;
  ASSERT_TRUE(engine->ReadFileInfo(file));
  EXPECT_FALSE(file.Recent);
  EXPECT_EQ(file.Size, 10);
}

} // namespace
} // namespace quillo::test
