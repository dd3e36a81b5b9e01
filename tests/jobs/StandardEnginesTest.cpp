// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs with the real engines over in-memory FAT32 and NTFS volumes.
#include <gtest/gtest.h>

#include "JobTestSupport.h"
#include "engine/FatDefrag.h"
#include "engine/NtfsDefrag.h"

namespace quillo::test {
namespace {

struct RealJob {
  explicit RealJob(const std::string& fileSystem) : Volume(MakeFragmentedVolume(3, 8, fileSystem)) {
    if (fileSystem == "NTFS") Volume->SetNtfsLayout(0, 0, 0, -1);
    DefragThreadOptions options;
    options.IdlePriority = false;
    Job = std::make_unique<TDefragThread>("c:", Volume, EngineServices{Time, Dispatcher, Notifier},
                                          TDefragThread::StandardEngines(), options);
  }
  std::shared_ptr<MemoryVolume> Volume;
  ShortSleepClock Time;
  InlineDispatcher Dispatcher;
  RecordingNotifier Notifier;
  std::unique_ptr<TDefragThread> Job;
};

TEST(StandardEngines, AnalyseThenDefragmentBothFileSystems) {
  for (const char* fileSystem : {"FAT32", "NTFS"}) {
    RealJob world(fileSystem);
    TDefragThread& job = *world.Job;
    if (std::string(fileSystem) == "NTFS")
      EXPECT_NE(dynamic_cast<TNtfsDefrag*>(&job.Engine()), nullptr);
    else
      EXPECT_NE(dynamic_cast<TFatDefrag*>(&job.Engine()), nullptr);
    EXPECT_EQ(job.Engine().VolumeName, "C:");

    std::vector<std::vector<uint64_t>> before;
    for (uint32_t i = 0; i < world.Volume->FileCount(); ++i)
      before.push_back(world.Volume->FileTokens(i));

    job.AnalyzeDeal(dmFast);
    ExpectParks(job);
    ASSERT_EQ(job.PopNotify(), ncAnalyzed) << fileSystem;
    EXPECT_EQ(job.Engine().Report->FragmentedFileCount.load(), 3) << fileSystem;
    EXPECT_EQ(job.Engine().FragmentedList.size(), 3u);

    job.DefragDeal(jcManualDefrag, dmFast);
    ExpectParks(job);
    ASSERT_EQ(job.PopNotify(), ncDefragged) << fileSystem;
    EXPECT_EQ(job.State(), dsDefragged);
    EXPECT_EQ(job.Engine().Report->DefraggedFileCount.load(), 3) << fileSystem;
    EXPECT_EQ(world.Volume->CheckConsistency(), "");
    for (uint32_t i = 0; i < world.Volume->FileCount(); ++i) {
      EXPECT_EQ(world.Volume->FileTokens(i), before[i]) << world.Volume->PathOf(i);
      if (!world.Volume->File(i).Directory) {
        size_t allocated = 0;
        for (const MemoryRun& run : world.Volume->File(i).Runs)
          allocated += run.Lcn >= 0;
        EXPECT_LE(allocated, 1u) << world.Volume->PathOf(i);
      }
    }
  }
}

TEST(StandardEngines, AnEngineErrorEndsTheJobWithItsText) {
  RealJob world("FAT32");
  TDefragThread& job = *world.Job;
  world.Volume->FailOperation(MemoryOperation::Bitmap);
  job.DefragDeal(jcManualDefrag, dmOptimize);
  ExpectParks(job);
  ASSERT_TRUE(job.IsDead());
  EXPECT_EQ(job.ErrorText(), "GetVolumeBitmap Error");
  EXPECT_EQ(job.State(), dsAnalyzing);
  EXPECT_EQ(ErrorOf([&] { job.AnalyzeDeal(dmFast); }), "DefragThread Error: GetVolumeBitmap Error");
  EXPECT_EQ(job.PopNotify(), ncNone);
}

} // namespace
} // namespace quillo::test
