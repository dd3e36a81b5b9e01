// SPDX-License-Identifier: GPL-2.0-or-later
// Power cuts during a whole defragmentation, and during a scripted series
// of moves that reuse the clusters other moves released. The image lives in
// memory and loses every write after the k-th one; for every k the image
// that is left must pass fsck.fat with nothing worse than the traces of an
// open write session, and every file must still hold its bytes. Moves are
// committed in groups: the passes run with the usual group size (the whole
// pass in one group on this small image) and with groups of two moves, so
// cuts fall between the steps of one group and between groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

#include "BorrowedBlockDevice.h"
#include "FatEngineRig.h"
#include "FatImageKit.h"
#include "MemoryBlockDevice.h"
#include "TestSupport.h"
#include "VolumeMover.h"
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

// Work on the crash image: `strict` when no cut is planned (the work may
// then check what it sees).
using Work = std::function<void(MemoryBlockDevice& memory, bool strict)>;

struct Scenario {
  const char* Name;
  Work Run;
  bool Defragments; // the work defragments the whole volume
};

// A defragmentation of the crash image; the engine is told to stop at the
// cut, as nothing it does afterwards reaches the image anyway.
Work EnginePass(uint8_t mode, uint32_t movesPerCommit) {
  return [mode, movesPerCommit](MemoryBlockDevice& memory, bool) {
    FatEngineRig rig(std::make_unique<BorrowedBlockDevice>(memory));
    if (movesPerCommit != 0) {
      fat::CommitLimits limits;
      limits.Moves = movesPerCommit;
      rig.Volume->SetCommitLimits(limits);
    }
    memory.SetCutCallback([&] { rig.Engine->State = dsStopping; });
    rig.Run(mode, true);
  };
}

// Moves through the device, in one group except where a target holds
// clusters that a pending move released (which commits the group first):
// a file moved in two requests, a file then its directory then the parent
// directory (whose subdirectories' ".." follow), another file into the
// clusters the first one left, the first file's middle moved again, and a
// third file into the clusters that move released.
void ScriptedMoves(MemoryBlockDevice& memory, bool strict) {
  std::string why;
  auto volume = fat::FatVolume::Open("C:", std::make_unique<BorrowedBlockDevice>(memory), why);
  ASSERT_TRUE(volume) << why;
  VolumeMover mover(*volume);
  auto expect = [&](NtStatus status, const char* what) {
    if (strict) {
      EXPECT_EQ(status, kStatusSuccess) << what;
    }
  };
  const std::string crowded = "C:\\Frag\\Crowded Directory";
  Handle first = mover.Open("C:\\Frag\\Large\\large_000.bin");
  Handle second = mover.Open("C:\\Frag\\Large\\large_001.bin");
  Handle third = mover.Open("C:\\Frag\\Large\\large_003.bin");
  Handle inside = mover.Open(crowded + "\\Sub 0\\inside.bin");
  Handle sub = mover.Open(crowded + "\\Sub 0");
  Handle dir = mover.Open(crowded);

  std::vector<Extent> firstBefore = mover.Extents(first);
  int64_t firstTotal = Total(firstBefore);
  int64_t target = mover.FreeRunFromTheEnd(firstTotal);
  int64_t half = firstTotal / 2;
  expect(mover.Move(first, 0, target, uint32_t(half)), "first file, first half");
  expect(mover.Move(first, half, target + half, uint32_t(firstTotal - half)),
         "first file, second half");
  for (Handle h : {inside, sub, dir}) {
    int64_t clusters = Total(mover.Extents(h));
    expect(mover.Move(h, 0, mover.FreeRunFromTheEnd(clusters), uint32_t(clusters)),
           "file, then its directory, then the parent");
  }
  // Into the first run the first file left.
  int64_t reused = std::min(firstBefore[0].Length, Total(mover.Extents(second)));
  expect(mover.Move(second, 0, firstBefore[0].Lcn, uint32_t(reused)), "into released clusters");
  if (strict) {
    EXPECT_EQ(mover.Extents(second).front().Lcn, firstBefore[0].Lcn);
  }
  // The first file's middle again, then into what that released.
  int64_t middle = firstTotal - 2;
  expect(mover.Move(first, 1, mover.FreeRunFromTheEnd(middle), uint32_t(middle)),
         "middle moved again");
  int64_t thirdClusters = std::min<int64_t>(middle, Total(mover.Extents(third)));
  expect(mover.Move(third, 0, target + 1, uint32_t(thirdClusters)),
         "into clusters released in this group");
  for (Handle h : {first, second, third, inside, sub, dir}) volume->CloseHandle(h);
}

const Scenario kScenarios[] = {
    {"Fast", EnginePass(dmFast, 0), true},
    {"Optimize", EnginePass(dmOptimize, 0), true},
    {"FastPairs", EnginePass(dmFast, 2), true},
    {"OptimizePairs", EnginePass(dmOptimize, 2), true},
    {"ScriptedMoves", ScriptedMoves, false},
};

CutOutcome RunWithCut(const std::vector<uint8_t>& base, const Scenario& scenario,
                      uint64_t cutAfter) {
  MemoryBlockDevice memory(base);
  memory.CutPowerAfter(cutAfter);
  scenario.Run(memory, cutAfter == UINT64_MAX);
  CutOutcome outcome;
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

// The scenario, and the shard of cut points (k = shard, shard + kShards, ...).
class FatPowerCut : public ::testing::TestWithParam<std::tuple<size_t, int>> {};

TEST_P(FatPowerCut, EveryCutPointLeavesAReadableVolume) {
  const auto [which, shard] = GetParam();
  const Scenario& scenario = kScenarios[which];
  const std::vector<uint8_t> base = ReadWholeFile(FixtureImage("crash"));
  CutOutcome whole = RunWithCut(base, scenario, UINT64_MAX);
  ASSERT_FALSE(HasFailure());
  ASSERT_FALSE(whole.Cut);
  ASSERT_GT(whole.Writes, 20u) << "the crash image gives the pass too little to do";

  TempDir dir;
  CutTally tally;
  for (uint64_t k = uint64_t(shard); k < whole.Writes; k += kShards) {
    CutOutcome cut = RunWithCut(base, scenario, k);
    ASSERT_TRUE(cut.Cut) << "cut after " << k;
    ExpectSurvivable(cut.Image, dir.Path(), "cut after write " + std::to_string(k), tally);
    if (HasFailure()) break;
  }
  if (shard == 0) {
    // Without a cut the volume ends clean (and defragmented by a pass).
    std::filesystem::path file = dir.Path() / "whole.img";
    WriteWholeFile(file, whole.Image);
    CheckResult check = CheckImage(file, FixtureManifest("crash"), scenario.Defragments);
    EXPECT_TRUE(check.FsckClean()) << check.Summary();
    EXPECT_EQ(check.FilesBad, 0);
    if (scenario.Defragments) {
      for (const std::string& path : ReadManifest(FixtureManifest("crash")).Fragmented)
        EXPECT_EQ(check.Runs.at(path), 1) << path;
    }
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
class FatWriteReordering : public ::testing::TestWithParam<size_t> {};

TEST_P(FatWriteReordering, EveryMixOfAnEpochsWritesLeavesAReadableVolume) {
  // Epochs longer than this are tried with each single write left out.
  constexpr size_t kFullMixLimit = 4;
  const std::vector<uint8_t> base = ReadWholeFile(FixtureImage("crash"));
  MemoryBlockDevice memory(base);
  memory.KeepLog();
  kScenarios[GetParam()].Run(memory, true);
  ASSERT_FALSE(HasFailure());
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

constexpr size_t kScenarioCount = std::size(kScenarios);

INSTANTIATE_TEST_SUITE_P(Scenarios, FatWriteReordering, ::testing::Range<size_t>(0, kScenarioCount),
                         [](const auto& info) { return std::string(kScenarios[info.param].Name); });

INSTANTIATE_TEST_SUITE_P(ScenariosAndShards, FatPowerCut,
                         ::testing::Combine(::testing::Range<size_t>(0, kScenarioCount),
                                            ::testing::Range(0, kShards)),
                         [](const auto& info) {
                           return std::string(kScenarios[std::get<0>(info.param)].Name) +
                                  "Shard" + std::to_string(std::get<1>(info.param));
                         });

} // namespace
} // namespace quillo::test
