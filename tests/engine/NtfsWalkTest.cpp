// SPDX-License-Identifier: GPL-2.0-or-later
// The MFT walk of NTFS volumes: preparation, opening by record, names.
#include <gtest/gtest.h>

#include "WalkFixture.h"

namespace quillo::test {
namespace {

constexpr uint32_t kRoot = MemoryVolume::kRootIndex;

TNtfsDefrag& Ntfs(std::unique_ptr<TDefrag>& engine) { return static_cast<TNtfsDefrag&>(*engine); }

TEST(NtfsWalk, TriesEveryRecordOfTheValidDataAndShowsProgressEvery400) {
  WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 40000});
  world.Volume->SetNtfsLayout(0, 0, 0, 100000 * 1024);
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  EXPECT_EQ(Ntfs(engine).MftRecordCount, 100000);
  // Records 1 to 100,000, each asked for once (the MFT's own record 0 is not).
  EXPECT_EQ(world.Volume->CallCount(MemoryOperation::NtfsFileRecord), 100000u);
  // Progress r * 100 div 100,000 at r = 400, 800, ...: every value 1 to 100
  // is shown once, then 0 at the end.
  std::vector<uint32_t> expected;
  for (uint32_t p = 1; p <= 100; ++p) expected.push_back(p);
  expected.push_back(0);
  EXPECT_EQ(world.View.Progress, expected);
}

TEST(NtfsWalk, MarksTheMftZoneAndTheMftInFourKilobyteUnits) {
  WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 40000, .SectorsPerCluster = 1});
  world.Volume->Reserve(1000, 600);
  // 2 MB of valid MFT data: 512 units of 4,096 bytes, whatever the cluster size.
  world.Volume->SetNtfsLayout(1000, 1000, 5000, 2 * 1024 * 1024);
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  EXPECT_EQ(MapTotal(*engine->Map, mcMft), 512);
  EXPECT_EQ(MapTotal(*engine->Map, mcMftZone), 4000);
  EXPECT_EQ(MapTotal(*engine->Map, mcUsed), WalkWorld::kMftClusters + 600 - 512);
  EXPECT_EQ(Ntfs(engine).MftRecordCount, 2048);
}

TEST(NtfsWalk, VolumeDataThatCannotBeReadRaisesTheControlCallError) {
  WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 4000});
  auto engine = world.MakeEngine();
  world.Volume->FailOperation(MemoryOperation::NtfsVolumeData);
  try {
    engine->Analyze(dmFast);
    ADD_FAILURE() << "no error";
  } catch (const DefragError& error) {
    EXPECT_STREQ(error.what(), "NtFsControlFile Error");
  }
}

TEST(NtfsWalk, SkipsRecordsNotInUseOrReusedSinceTheyWereRead) {
  struct Case {
    const char* Name;
    void (*Change)(MemoryVolume&, uint32_t);
  };
  for (const Case& c :
       {Case{"Deleted", [](MemoryVolume& v, uint32_t r) { v.DeleteRecord(r); }},
        Case{"Reused", [](MemoryVolume& v, uint32_t r) { v.ReuseAfterNextRecordRead(r); }}}) {
    SCOPED_TRACE(c.Name);
    WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 4000});
    world.Volume->AddFile(kRoot, "a", {{100, 2}, {200, 2}}, 10, world.DaysAgo(100));
    uint32_t b = world.Volume->AddFile(kRoot, "b", {{300, 2}, {400, 2}}, 10, world.DaysAgo(100));
    world.Volume->AddFile(kRoot, "c", {{500, 2}, {600, 2}}, 10, world.DaysAgo(100));
    c.Change(*world.Volume, b);
    auto engine = world.MakeEngine();
    engine->Analyze(dmFast);
    EXPECT_EQ(engine->Report->FileCount.load(), 2);
    EXPECT_EQ(Names(engine->FragmentedList), (std::vector<std::string>{"C:\\a", "C:\\c"}));
  }
}

TEST(NtfsWalk, OpenFileByIdAcceptsOnlyAnAnswerForTheRecordAskedFor) {
  WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 4000});
  uint32_t a = world.Volume->AddFile(kRoot, "a", {{100, 2}}, 10);
  world.Volume->BumpSequence(a); // a sequence other than 1 goes into the identifier
  uint32_t gone = world.Volume->AddFile(kRoot, "gone", {{200, 2}}, 10);
  world.Volume->DeleteRecord(gone);
  auto engine = world.MakeEngine();
  TNtfsDefrag& ntfs = Ntfs(engine);

  Handle handle = ntfs.OpenFileById(a);
  ASSERT_NE(handle, kInvalidHandle);
  world.Volume->CloseHandle(handle);
  EXPECT_EQ(ntfs.OpenFileById(gone), kInvalidHandle);      // answered by a lower record
  EXPECT_EQ(ntfs.OpenFileById(int64_t(a) | (1ll << 32)), kInvalidHandle); // high half set
  world.Volume->FailOperation(MemoryOperation::OpenFileById, kStatusAccessDenied, 1);
  EXPECT_EQ(ntfs.OpenFileById(a), kInvalidHandle); // the open leaves the handle 0
  world.Volume->FailOperation(MemoryOperation::NtfsFileRecord, kStatusUnsuccessful, 1);
  EXPECT_EQ(ntfs.OpenFileById(a), kInvalidHandle);
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
}

TEST(NtfsWalk, QueryFileNameGivesTheFullPathOrTheFailureText) {
  WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 4000});
  // Paths of exactly 260 characters fit; one more does not.
  std::string fits(259, 'n');    // "\" + 259
  std::string tooLong(260, 'n'); // "\" + 260
  uint32_t exact = world.Volume->AddFile(kRoot, fits, {{100, 1}}, 10);
  uint32_t over = world.Volume->AddFile(kRoot, tooLong, {{110, 1}}, 10);
  uint32_t sub = world.Volume->AddDirectory(kRoot, "Dir");
  uint32_t nested = world.Volume->AddFile(sub, "été.txt", {{120, 1}}, 10);
  uint32_t lone = world.Volume->AddFile(sub, "lone", {{130, 1}}, 10);
  world.Volume->SetWideName(lone, std::u16string(u"a") + char16_t(0xDC00) + u"b\U0001F600");
  auto engine = world.MakeEngine();
  TNtfsDefrag& ntfs = Ntfs(engine);

  struct Case {
    uint32_t Record;
    std::string Name;
  };
  for (const Case& c : {Case{exact, "C:\\" + fits}, Case{over, "C://CANNOTGETREALPATH"},
                        Case{nested, "C:\\Dir\\été.txt"}, Case{lone, "C:\\Dir\\a?b\U0001F600"},
                        Case{9999, "C://CANNOTGETREALPATH"}}) {
    FILE_INFO file;
    file.FileRef = c.Record;
    ntfs.ResolveName(file);
    EXPECT_EQ(file.Name, c.Name) << c.Record;
  }
  EXPECT_EQ(world.Volume->OpenHandleCount(), 1u);
}

TEST(NtfsWalk, TwoUnreadableNamesGiveOneReportEntry) {
  WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 4000});
  world.Volume->AddFile(kRoot, "a", {{100, 2}, {200, 2}}, 10, world.DaysAgo(100));
  world.Volume->AddFile(kRoot, "b", {{300, 2}, {400, 2}}, 10, world.DaysAgo(100));
  world.Volume->FailOperation(MemoryOperation::QueryFileName);
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  EXPECT_EQ(engine->FragmentedList.size(), 2u);
  EXPECT_EQ(EntryNames(*engine->Report), std::vector<std::string>{"C://CANNOTGETREALPATH"});
  EXPECT_EQ(engine->Report->FragmentedFileCount.load(), 2);
}

TEST(NtfsWalk, NamesAreFetchedOnlyWhereTheyAreNeeded) {
  struct Case {
    const char* Name;
    uint8_t Mode;
    std::vector<std::string> Masks;
    uint64_t Queries;
  };
  // Three contiguous files and one fragmented file, records 1 to 4.
  for (const Case& c : {Case{"FastFragmentedOnly", dmFast, {}, 1},
                        Case{"OptimiseEveryListed", dmOptimize, {}, 4},
                        Case{"MasksEveryExamined", dmFast, {"*.none"}, 4}}) {
    SCOPED_TRACE(c.Name);
    WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 4000});
    world.Volume->AddFile(kRoot, "a", {{100, 2}}, 10, world.DaysAgo(100));
    world.Volume->AddFile(kRoot, "b", {{200, 2}}, 10, world.DaysAgo(100));
    world.Volume->AddFile(kRoot, "c", {{300, 2}, {400, 2}}, 10, world.DaysAgo(100));
    world.Volume->AddFile(kRoot, "d", {{500, 2}}, 10, world.DaysAgo(100));
    auto engine = world.MakeEngine();
    engine->ExcludeMasks = c.Masks;
    engine->Analyze(c.Mode);
    EXPECT_EQ(world.Volume->CallCount(MemoryOperation::QueryFileName), c.Queries);
    EXPECT_EQ(engine->FragmentedList.at(0)->Name, "C:\\c");
  }
}

TEST(NtfsWalk, ResidentFilesAndDirectoriesWithClustersOfTheirOwn) {
  WalkWorld world(FileSystem::Ntfs, {.TotalClusters = 4000});
  uint32_t small = world.Volume->AddFile(kRoot, "small", {}, 300, world.DaysAgo(100));
  world.Volume->SetResident(small, true);
  uint32_t big = world.Volume->AddDirectory(kRoot, "big");
  world.Volume->SetRuns(big, {{100, 4}});
  world.Volume->AddDirectory(kRoot, "plain");
  auto engine = world.MakeEngine();
  engine->Analyze(dmOptimize);
  EXPECT_EQ(engine->Report->FileCount.load(), 1);
  EXPECT_EQ(engine->Report->DirCount.load(), 2);
  EXPECT_EQ(Names(engine->DirectoryList), std::vector<std::string>{"C:\\big"});
  EXPECT_TRUE(engine->RareList.empty());
  EXPECT_EQ(MapTotal(*engine->Map, mcDirectory), 4);
}

} // namespace
} // namespace quillo::test
