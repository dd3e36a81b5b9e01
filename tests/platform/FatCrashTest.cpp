// SPDX-License-Identifier: GPL-2.0-or-later
// Power cuts during a whole defragmentation. The image lives in memory and
// loses every write after the k-th one; for every k the image that is left
// must pass fsck.fat with nothing worse than the traces of an open write
// session, and every file must still hold its bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "BorrowedBlockDevice.h"
#include "FatEngineRig.h"
#include "FatImageKit.h"
#include "MemoryBlockDevice.h"
#include "TestSupport.h"
#include "platform/fat/FatLayout.h"

namespace quillo::test {
namespace {

constexpr int kShards = 4;

// The image as a checker would see it with the second FAT in charge.
std::vector<uint8_t> WithSecondFat(std::vector<uint8_t> image) {
  fat::BootSector boot;
  std::memcpy(&boot, image.data(), sizeof(boot));
  fat::FatLayout layout;
  EXPECT_EQ(fat::ValidateBootSector(boot, image.size(), layout), "");
  std::memcpy(image.data() + layout.FatOffset(0), image.data() + layout.FatOffset(1),
              layout.FatBytes());
  return image;
}

struct CutOutcome {
  bool Cut = false;
  uint64_t Writes = 0;
  std::vector<uint8_t> Image;
};

// One defragmentation of the crash image with the power cut after
// `cutAfter` writes; the engine is told to stop at the cut, as nothing it
// does afterwards reaches the image anyway.
CutOutcome RunWithCut(const std::vector<uint8_t>& base, uint8_t mode, uint64_t cutAfter) {
  MemoryBlockDevice memory(base);
  CutOutcome outcome;
  {
    FatEngineRig rig(std::make_unique<BorrowedBlockDevice>(memory));
    memory.CutPowerAfter(cutAfter, [&] { rig.Engine->State = dsStopping; });
    rig.Run(mode, true);
  }
  outcome.Cut = memory.PowerCut();
  outcome.Writes = memory.WriteCount();
  outcome.Image = memory.Image();
  return outcome;
}

// What the cut points left behind, by the worst trace fsck.fat reported.
struct CutTally {
  int Tried = 0;
  int Clean = 0;
  int SessionTraces = 0;
  int StaleDotDot = 0;
};

void ExpectRepairable(const std::filesystem::path& file, const std::string& label) {
  std::string output;
  RepairImage(file, output);
  CheckResult repaired = CheckImage(file, FixtureManifest("crash"), false);
  EXPECT_TRUE(repaired.FsckClean()) << label << " after fsck.fat -a\n" << repaired.Summary();
  // The repair may keep lost chains as FSCKnnnn.REC files in the root.
  int salvaged = 0;
  for (const std::string& mismatch : repaired.Mismatches)
    if (mismatch.rfind("FSCK", 0) == 0 && mismatch.find(".REC: not in the manifest") != std::string::npos)
      ++salvaged;
  EXPECT_EQ(repaired.FilesBad, salvaged) << label << " after fsck.fat -a\n" << repaired.Summary();
}

void ExpectSurvivable(const std::vector<uint8_t>& image, const std::filesystem::path& dir,
                      const std::string& label, CutTally& tally) {
  std::filesystem::path file = dir / "cut.img";
  WriteWholeFile(file, image);
  CheckResult check = CheckImage(file, FixtureManifest("crash"), false);
  std::string unexpected;
  bool staleDotDot = false;
  EXPECT_TRUE(check.FsckOnlyCrashTraces(unexpected, staleDotDot))
      << label << ": fsck.fat reports \"" << unexpected << "\"\n" << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << label << "\n" << check.Summary();
  ++tally.Tried;
  if (check.FsckClean())
    ++tally.Clean;
  else if (staleDotDot)
    ++tally.StaleDotDot;
  else
    ++tally.SessionTraces;
  if (staleDotDot) ExpectRepairable(file, label);

  if (check.FatsDiffer()) {
    // Each copy must describe a sound volume on its own.
    WriteWholeFile(file, WithSecondFat(image));
    CheckResult second = CheckImage(file, FixtureManifest("crash"), false);
    EXPECT_TRUE(second.FsckOnlyCrashTraces(unexpected, staleDotDot))
        << label << " (second FAT): fsck.fat reports \"" << unexpected << "\"\n"
        << second.Summary();
    EXPECT_EQ(second.FilesBad, 0) << label << " (second FAT)\n" << second.Summary();
    if (staleDotDot) ExpectRepairable(file, label + " (second FAT)");
  }
}

// The mode, and the shard of cut points (k = shard, shard + kShards, ...).
class FatPowerCut : public ::testing::TestWithParam<std::tuple<uint8_t, int>> {};

TEST_P(FatPowerCut, EveryCutPointLeavesAReadableVolume) {
  const auto [mode, shard] = GetParam();
  const std::vector<uint8_t> base = ReadWholeFile(FixtureImage("crash"));
  CutOutcome whole = RunWithCut(base, mode, UINT64_MAX);
  ASSERT_FALSE(whole.Cut);
  ASSERT_GT(whole.Writes, 20u) << "the crash image gives the pass too little to do";

  TempDir dir;
  CutTally tally;
  for (uint64_t k = uint64_t(shard); k < whole.Writes; k += kShards) {
    CutOutcome cut = RunWithCut(base, mode, k);
    ASSERT_TRUE(cut.Cut) << "cut after " << k;
    ExpectSurvivable(cut.Image, dir.Path(), "cut after write " + std::to_string(k), tally);
    if (HasFailure()) break;
  }
  if (shard == 0) {
    // Without a cut the volume ends clean and defragmented.
    std::filesystem::path file = dir.Path() / "whole.img";
    WriteWholeFile(file, whole.Image);
    CheckResult check = CheckImage(file, FixtureManifest("crash"), true);
    EXPECT_TRUE(check.FsckClean()) << check.Summary();
    EXPECT_EQ(check.FilesBad, 0);
    for (const std::string& path : ReadManifest(FixtureManifest("crash")).Fragmented)
      EXPECT_EQ(check.Runs.at(path), 1) << path;
  }
  RecordProperty("CutPoints", tally.Tried);
  std::printf("writes in the whole pass: %llu; cut points in this shard: %d (clean %d, "
              "session traces only %d, stale \"..\" repaired by fsck.fat %d)\n",
              static_cast<unsigned long long>(whole.Writes), tally.Tried, tally.Clean,
              tally.SessionTraces, tally.StaleDotDot);
}

// A disk may make the writes since the last flush durable in any order. For
// every flush epoch of a whole pass, every mix of its writes that is not a
// prefix (the prefixes are the cut points above) must leave a readable
// volume too: this is what proves the flushes sit where they must.
class FatWriteReordering : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FatWriteReordering, EveryMixOfAnEpochsWritesLeavesAReadableVolume) {
  // Epochs longer than this are tried with each single write left out.
  constexpr size_t kFullMixLimit = 4;
  const std::vector<uint8_t> base = ReadWholeFile(FixtureImage("crash"));
  MemoryBlockDevice memory(base);
  memory.KeepLog();
  {
    FatEngineRig rig(std::make_unique<BorrowedBlockDevice>(memory));
    rig.Run(GetParam(), true);
  }
  const auto& log = memory.Log();
  ASSERT_FALSE(log.empty());

  auto apply = [](std::vector<uint8_t>& image, const MemoryBlockDevice::LoggedWrite& write) {
    std::copy(write.Data.begin(), write.Data.end(), image.begin() + long(write.Offset));
  };
  TempDir dir;
  CutTally tally;
  int epochs = 0;
  std::vector<uint8_t> durable = base; // every write of the epochs before
  for (size_t first = 0; first < log.size();) {
    size_t end = first;
    while (end < log.size() && log[end].Epoch == log[first].Epoch) ++end;
    size_t count = end - first;
    ++epochs;
    std::vector<uint32_t> masks;
    if (count <= kFullMixLimit) {
      for (uint32_t mask = 1; mask + 1 < (1u << count); ++mask)
        if ((mask & (mask + 1)) != 0) masks.push_back(mask); // prefixes are 0b0..01..1
    } else {
      for (size_t left = 0; left + 1 < count; ++left)
        masks.push_back(((1u << count) - 1) & ~(1u << left));
    }
    for (uint32_t mask : masks) {
      std::vector<uint8_t> image = durable;
      for (size_t i = 0; i < count; ++i)
        if (mask & (1u << i)) apply(image, log[first + i]);
      ExpectSurvivable(image, dir.Path(),
                       "epoch " + std::to_string(log[first].Epoch) + ", writes kept " +
                           std::to_string(mask),
                       tally);
      if (HasFailure()) return;
    }
    for (size_t i = first; i < end; ++i) apply(durable, log[i]);
    first = end;
  }
  RecordProperty("Mixes", tally.Tried);
  std::printf("%zu writes in %d flush epochs; %d mixes tried (clean %d, session traces only %d, "
              "stale \"..\" repaired by fsck.fat %d)\n",
              log.size(), epochs, tally.Tried, tally.Clean, tally.SessionTraces,
              tally.StaleDotDot);
}

INSTANTIATE_TEST_SUITE_P(Modes, FatWriteReordering, ::testing::Values(dmFast, dmOptimize),
                         [](const auto& info) { return info.param == dmFast ? "Fast" : "Optimize"; });

INSTANTIATE_TEST_SUITE_P(ModesAndShards, FatPowerCut,
                         ::testing::Combine(::testing::Values(dmFast, dmOptimize),
                                            ::testing::Range(0, kShards)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) == dmFast ? "Fast" : "Optimize") +
                                  "Shard" + std::to_string(std::get<1>(info.param));
                         });

} // namespace
} // namespace quillo::test
