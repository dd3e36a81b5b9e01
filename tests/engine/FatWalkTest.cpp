// SPDX-License-Identifier: GPL-2.0-or-later
// The breadth-first directory walk of FAT volumes and how its entries are
// opened.
#include <gtest/gtest.h>

#include "WalkFixture.h"

namespace quillo::test {
namespace {

constexpr uint32_t kRoot = MemoryVolume::kRootIndex;

TEST(FatWalk, ListsDirectoriesBreadthFirstAndExaminesEachWithItsParent) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  uint32_t a = world.Volume->AddDirectory(kRoot, "A");
  uint32_t b = world.Volume->AddDirectory(kRoot, "B");
  uint32_t x = world.Volume->AddDirectory(a, "X");
  world.Volume->SetRuns(a, {{100, 1}});
  world.Volume->SetRuns(b, {{110, 1}});
  world.Volume->SetRuns(x, {{120, 1}});
  world.Volume->AddFile(x, "deep", {{130, 2}}, 8192, world.DaysAgo(100));
  world.Volume->AddFile(b, "inb", {{140, 2}}, 8192, world.DaysAgo(100));
  world.Volume->RecordCreateFileCalls(true);
  auto engine = world.MakeEngine();
  engine->Analyze(dmOptimize);

  EXPECT_EQ(world.Volume->ListingLog(),
            (std::vector<std::string>{"C:\\*.*", "C:\\A\\*.*", "C:\\B\\*.*", "C:\\A\\X\\*.*"}));
  // Each entry is opened twice (information, extents) in walk order.
  std::vector<std::string> opened;
  for (const CreateFileCall& call : world.Volume->CreateFileLog())
    if (opened.empty() || opened.back() != call.Path) opened.push_back(call.Path);
  EXPECT_EQ(opened, (std::vector<std::string>{"C:\\A", "C:\\B", "C:\\A\\X", "C:\\B\\inb",
                                              "C:\\A\\X\\deep"}));
  EXPECT_EQ(engine->Report->DirCount.load(), 3);
  EXPECT_EQ(engine->Report->FileCount.load(), 2);
  EXPECT_EQ(engine->DirectoryList.size(), 3u);
  EXPECT_EQ(engine->RareList.size(), 2u);
}

TEST(FatWalk, OpensDirectoriesWithBackupSemanticsAndFilesUnbuffered) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  world.Volume->AddDirectory(kRoot, "dir");
  world.Volume->AddFile(kRoot, "file", {{100, 1}}, 10, world.DaysAgo(100));
  world.Volume->RecordCreateFileCalls(true);
  auto engine = world.MakeEngine();
  FILE_INFO entry;
  for (const char* name : {"C:\\dir", "C:\\file"}) {
    entry.Name = name;
    Handle handle = engine->OpenFile(entry);
    ASSERT_NE(handle, kInvalidHandle) << name;
    world.Volume->CloseHandle(handle);
  }
  entry.Name = "C:\\missing";
  EXPECT_EQ(engine->OpenFile(entry), kInvalidHandle);
  std::vector<CreateFileCall> calls = world.Volume->CreateFileLog();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].DesiredAccess, kGenericRead);
  EXPECT_EQ(calls[0].ShareMode, 7u);
  EXPECT_EQ(calls[0].FlagsAndAttributes, 0x2000000u);
  EXPECT_EQ(calls[1].DesiredAccess, kGenericRead);
  EXPECT_EQ(calls[1].ShareMode, 3u);
  EXPECT_EQ(calls[1].FlagsAndAttributes, 0x20000000u);
  EXPECT_EQ(calls[2].ShareMode, 3u); // not an existing directory
}

TEST(FatWalk, CaptionAndProgressFollowEveryEntryOfEvery400thDirectory) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  // Directories at queue indices 1 to 401 under the root; the one at index
  // 400 holds five files.
  for (int i = 1; i <= 401; ++i) world.Volume->AddDirectory(kRoot, "d" + std::to_string(i));
  world.Volume->SetRuns(*world.Volume->FindPath("C:\\d1"), {{50, 1}});
  uint32_t d400 = *world.Volume->FindPath("C:\\d400");
  for (int i = 0; i < 5; ++i)
    world.Volume->AddFile(d400, "f" + std::to_string(i), {{uint32_t(100 + 10 * i), 2}}, 10,
                          world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->Analyze(dmFast);
  // The map's reset, the one root entry (index 0) with clusters (the others
  // end before the caption step, having no extents), the five files of
  // index 400, and the volume root at the end.
  EXPECT_EQ(world.View.Captions,
            (std::vector<std::string>{"C:\\", "C:\\d1", "C:\\d400\\f0", "C:\\d400\\f1",
                                      "C:\\d400\\f2", "C:\\d400\\f3", "C:\\d400\\f4", "C:\\"}));
  // 400 * 100 div (402 + 1): the queue holds the root and 401 directories.
  EXPECT_EQ(world.View.Progress, (std::vector<uint32_t>{99, 0}));
}

TEST(FatWalk, ThrottleSleepsBeforeEveryEntryOfEveryFourthDirectory) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  for (int i = 1; i <= 5; ++i) world.Volume->AddDirectory(kRoot, "d" + std::to_string(i));
  for (int i = 0; i < 3; ++i) {
    world.Volume->AddFile(*world.Volume->FindPath("C:\\d3"), "f" + std::to_string(i), {}, 0);
    world.Volume->AddFile(*world.Volume->FindPath("C:\\d4"), "f" + std::to_string(i), {}, 0);
  }
  auto engine = world.MakeEngine();
  engine->Throttled = 1;
  engine->Analyze(dmFast);
  // Five entries in the root (index 0) and three in d4 (index 4).
  EXPECT_EQ(world.Time.Sleeps(), std::vector<uint32_t>(8, kThrottleWaitMs));
}

TEST(FatWalk, EmptyHiddenUnlistableAndUnnameableEntries) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  world.Volume->AddDirectory(kRoot, "empty");
  world.Volume->AddFile(kRoot, "sys", {{100, 3}}, 10, world.DaysAgo(100),
                        kFileAttributeHidden | kFileAttributeSystem);
  uint32_t locked = world.Volume->AddDirectory(kRoot, "locked");
  world.Volume->AddFile(locked, "inside", {{200, 3}}, 10, world.DaysAgo(100));
  uint32_t odd = world.Volume->AddFile(kRoot, "odd", {{300, 3}}, 10, world.DaysAgo(100));
  world.Volume->SetWideName(odd, std::u16string(u"odd") + char16_t(0xD800));
  world.Volume->FailOperation(MemoryOperation::ListDirectory, kStatusUnsuccessful, -1, 0,
                              "C:\\locked\\*.*");
  world.Volume->Reserve(0, 10); // the file system's own structures
  auto engine = world.MakeEngine();
  engine->Analyze(dmOptimize);
  // The empty directory and the locked one are counted; the hidden system
  // file is examined; the entry whose name has no 8-bit form is not
  // counted; nothing inside the unlistable directory is examined.
  EXPECT_EQ(engine->Report->DirCount.load(), 2);
  EXPECT_EQ(engine->Report->FileCount.load(), 1);
  EXPECT_EQ(Names(engine->RareList), std::vector<std::string>{"C:\\sys"});
  EXPECT_TRUE(engine->DirectoryList.empty());
  EXPECT_EQ(MapTotal(*engine->Map, mcUsed), 10 + 3 + 3);
}

TEST(FatWalk, TheRootIsNeverAnEntryOfItsOwn) {
  WalkWorld world(FileSystem::Fat, {.TotalClusters = 4000});
  world.Volume->SetRuns(kRoot, {{50, 4}});
  world.Volume->AddFile(kRoot, "f", {{100, 3}}, 10, world.DaysAgo(100));
  auto engine = world.MakeEngine();
  engine->Analyze(dmOptimize);
  EXPECT_EQ(engine->Report->DirCount.load(), 0);
  EXPECT_EQ(MapTotal(*engine->Map, mcUsed), 4);
}

} // namespace
} // namespace quillo::test
