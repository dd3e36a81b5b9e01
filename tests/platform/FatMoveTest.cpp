// SPDX-License-Identifier: GPL-2.0-or-later
// Moves on a real FAT32 image through the device, with FSCTL_MOVE_FILE
// semantics, checked by fsck.fat, mcopy and mshowfat; the write session's
// dirty bit and FSInfo; read-only images; analyses that write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "FatEngineRig.h"
#include "FatImageEditor.h"
#include "FatImageKit.h"
#include "RecordingBlockDevice.h"
#include "TestSupport.h"
#include "VolumeMover.h"
#include "platform/ForwardingBlockDevice.h"
#include "platform/fat/FatVolume.h"

namespace quillo::test {
namespace {

using fat::FatVolume;

constexpr const char* kLarge = "C:\\Frag\\Large\\large_000.bin";
constexpr const char* kCrowded = "C:\\Frag\\Crowded Directory";

class FatMove : public ::testing::Test {
protected:
  void SetUp() override {
    Image = CopyFixture("small", Dir.Path());
    std::string why;
    auto device = OpenImage(Image, false);
    Volume = FatVolume::Open("C:", std::make_unique<RecordingBlockDevice>(std::move(device), Writes, &Syncs), why);
    ASSERT_TRUE(Volume) << why;
    VolumeHandle = Volume->OpenVolume("\\\\.\\C:");
    DiskGeometry geometry;
    ASSERT_TRUE(Volume->GetGeometry("C:\\", geometry));
    Clusters = geometry.TotalNumberOfClusters;
  }

  Handle Open(const std::string& path) { return Mover().Open(path); }
  std::vector<Extent> Extents(Handle file) { return Mover().Extents(file); }
  NtStatus Move(Handle file, int64_t vcn, int64_t lcn, uint32_t count) {
    IoStatusBlock iosb;
    return Volume->MoveFile(VolumeHandle, MoveFileData{file, vcn, lcn, count}, iosb);
  }
  VolumeMover& Mover() {
    if (!Moves) Moves = std::make_unique<VolumeMover>(*Volume);
    return *Moves;
  }

  // The first LCN of a free run of `length` clusters near the end.
  int64_t FreeRunNearTheEnd(uint32_t length) {
    auto bitmap = std::make_unique<VolumeBitmapBuffer>();
    IoStatusBlock iosb;
    EXPECT_EQ(Volume->GetVolumeBitmap(VolumeHandle, 0, *bitmap, iosb), kStatusSuccess);
    int64_t start = int64_t(Clusters) - 1000 - length;
    for (uint32_t k = 0; k < length; ++k)
      EXPECT_FALSE((bitmap->Buffer[(start + k) >> 3] >> ((start + k) & 7)) & 1);
    return start;
  }

  // Closes the volume (ending its write session) and checks the image.
  CheckResult Finish() {
    Moves.reset();
    Volume->CloseHandle(VolumeHandle);
    Volume.reset();
    return CheckImage(Image, FixtureManifest("small"), true);
  }

  TempDir Dir;
  std::filesystem::path Image;
  uint64_t Writes = 0;
  uint64_t Syncs = 0;
  std::unique_ptr<FatVolume> Volume;
  std::unique_ptr<VolumeMover> Moves;
  Handle VolumeHandle = kInvalidHandle;
  uint32_t Clusters = 0;
};

TEST_F(FatMove, WholeFileInChunksBecomesContiguousAndKeepsItsBytes) {
  Handle file = Open(kLarge);
  std::vector<Extent> before = Extents(file);
  ASSERT_GT(before.size(), 3u);
  int64_t total = Total(before);
  int64_t target = FreeRunNearTheEnd(uint32_t(total));
  // Three requests, as the engine splits a move: the handle follows the
  // file's new first cluster between them.
  int64_t third = total / 3;
  EXPECT_EQ(Move(file, 0, target, uint32_t(third)), kStatusSuccess);
  EXPECT_EQ(Move(file, third, target + third, uint32_t(third)), kStatusSuccess);
  EXPECT_EQ(Move(file, 2 * third, target + 2 * third, uint32_t(total - 2 * third)), kStatusSuccess);
  std::vector<Extent> after = Extents(file);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].Lcn, target);
  EXPECT_EQ(after[0].Length, total);
  Volume->CloseHandle(file);

  CheckResult check = Finish();
  EXPECT_TRUE(check.FsckClean()) << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
  EXPECT_EQ(check.Runs.at("Frag/Large/large_000.bin"), 1);
}

TEST_F(FatMove, MiddleOfAChainMovesThroughThePredecessorsEntry) {
  Handle file = Open(kLarge);
  std::vector<Extent> before = Extents(file);
  int64_t total = Total(before);
  int64_t target = FreeRunNearTheEnd(uint32_t(total));
  EXPECT_EQ(Move(file, 1, target, uint32_t(total - 2)), kStatusSuccess);
  std::vector<Extent> after = Extents(file);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[0].Lcn, before[0].Lcn);
  EXPECT_EQ(after[1].Lcn, target);
  Volume->CloseHandle(file);
  CheckResult check = Finish();
  EXPECT_TRUE(check.FsckClean()) << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
}

TEST_F(FatMove, DirectoryWithSubdirectoriesMovesWithItsDotAndDotDotEntries) {
  const std::string sub0 = std::string(kCrowded) + "\\Sub 0";
  Handle dir = Open(kCrowded);
  // Handles opened before their directories move stay usable, for moves too.
  Handle sub = Open(sub0);
  Handle inside = Open(sub0 + "\\inside.bin");
  int64_t total = Total(Extents(dir));
  int64_t subClusters = Total(Extents(sub));
  int64_t insideClusters = Total(Extents(inside));
  int64_t target = FreeRunNearTheEnd(uint32_t(total + subClusters + insideClusters));
  ASSERT_EQ(Move(dir, 0, target, uint32_t(total)), kStatusSuccess);
  EXPECT_EQ(Extents(dir).size(), 1u);
  ASSERT_EQ(Move(sub, 0, target + total, uint32_t(subClusters)), kStatusSuccess);
  ASSERT_EQ(Move(inside, 0, target + total + subClusters, uint32_t(insideClusters)), kStatusSuccess);
  EXPECT_EQ(Extents(inside).front().Lcn, target + total + subClusters);
  std::vector<DirectoryEntry> listing;
  ASSERT_TRUE(Volume->ListDirectory(std::string(kCrowded) + "\\*.*", listing));
  EXPECT_EQ(listing.size(), 2u + 120u + 4u);
  for (Handle h : {dir, sub, inside}) Volume->CloseHandle(h);

  CheckResult check = Finish();
  EXPECT_TRUE(check.FsckClean()) << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
  EXPECT_EQ(check.Runs.at("Frag/Crowded Directory"), 1);
}

// The image as it is on disk in the middle of a session: a power cut now
// would leave it so.
void ExpectSoundOnDisk(const std::filesystem::path& image, const std::filesystem::path& dir,
                       const std::string& when) {
  std::filesystem::path copy = dir / "now.img";
  std::filesystem::copy_file(image, copy, std::filesystem::copy_options::overwrite_existing);
  CheckResult check = CheckImage(copy, FixtureManifest("small"), false);
  std::string unexpected;
  bool staleDotDot = false;
  EXPECT_TRUE(check.FsckOnlyCrashTraces(unexpected, staleDotDot))
      << when << ": " << unexpected << "\n" << check.Summary();
  EXPECT_FALSE(staleDotDot) << when;
  EXPECT_EQ(check.FilesBad, 0) << when << "\n" << check.Summary();
}

TEST_F(FatMove, MovesAreMadeDurableInGroupsAndReusedClustersWaitForTheirCommit) {
  const char* files[] = {"C:\\Frag\\Large\\large_000.bin", "C:\\Frag\\Large\\large_001.bin",
                         "C:\\Frag\\Large\\large_002.bin"};
  std::vector<Handle> handles;
  std::vector<std::vector<Extent>> before;
  for (const char* path : files) {
    handles.push_back(Open(path));
    before.push_back(Extents(handles.back()));
  }
  // The first two files move away: read as moved at once, but nothing is
  // flushed beyond the start of the write session.
  for (size_t i = 0; i < 2; ++i) {
    int64_t clusters = Total(before[i]);
    int64_t target = Mover().FreeRunFromTheEnd(clusters);
    ASSERT_EQ(Move(handles[i], 0, target, uint32_t(clusters)), kStatusSuccess);
    ASSERT_EQ(Extents(handles[i]).size(), 1u);
    EXPECT_EQ(Extents(handles[i]).front().Lcn, target);
  }
  uint64_t syncsAtStart = Syncs;
  EXPECT_LE(syncsAtStart, 1u);
  ExpectSoundOnDisk(Image, Dir.Path(), "two moves pending");

  // The third file into the first run the first file left: that move
  // commits the two pending ones before it writes a byte.
  int64_t reused = std::min(before[0].front().Length, Total(before[2]));
  ASSERT_EQ(Move(handles[2], 0, before[0].front().Lcn, uint32_t(reused)), kStatusSuccess);
  EXPECT_EQ(Extents(handles[2]).front().Lcn, before[0].front().Lcn);
  EXPECT_GE(Syncs, syncsAtStart + 2);
  ExpectSoundOnDisk(Image, Dir.Path(), "a move into released clusters pending");

  for (Handle h : handles) Volume->CloseHandle(h);
  CheckResult check = Finish();
  EXPECT_TRUE(check.FsckClean()) << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
  EXPECT_EQ(check.Runs.at("Frag/Large/large_000.bin"), 1);
  EXPECT_EQ(check.Runs.at("Frag/Large/large_001.bin"), 1);
}

// Passes everything on, until told to fail every flush.
class FlakyFlushDevice final : public ForwardingBlockDevice {
public:
  FlakyFlushDevice(std::unique_ptr<BlockDevice> inner, bool& failFlushes)
      : ForwardingBlockDevice(std::move(inner)), FailFlushes(failFlushes) {}
  bool Sync() override { return !FailFlushes && Target().Sync(); }

private:
  bool& FailFlushes;
};

TEST(FatMoveCommit, AFailedFlushEndsTheWritesAndLeavesEveryFileWhereItWas) {
  TempDir dir;
  std::filesystem::path image = CopyFixture("small", dir.Path());
  bool failFlushes = false;
  std::string why;
  auto volume = FatVolume::Open(
      "C:", std::make_unique<FlakyFlushDevice>(OpenImage(image, false), failFlushes), why);
  ASSERT_TRUE(volume) << why;
  fat::CommitLimits limits;
  limits.Moves = 2;
  volume->SetCommitLimits(limits);
  {
    VolumeMover mover(*volume);
    std::vector<Handle> files;
    for (const char* path : {"C:\\Frag\\Large\\large_000.bin", "C:\\Frag\\Large\\large_001.bin",
                             "C:\\Frag\\Large\\large_002.bin"})
      files.push_back(mover.Open(path));
    auto moveAway = [&](Handle file) {
      int64_t clusters = Total(mover.Extents(file));
      return mover.Move(file, 0, mover.FreeRunFromTheEnd(clusters), uint32_t(clusters));
    };
    EXPECT_EQ(moveAway(files[0]), kStatusSuccess);
    failFlushes = true;
    // The second move fills the group; its commit cannot flush.
    EXPECT_EQ(moveAway(files[1]), kStatusUnsuccessful);
    EXPECT_EQ(moveAway(files[2]), kStatusUnsuccessful);
    for (Handle h : files) volume->CloseHandle(h);
  }
  std::vector<std::string> problems = volume->Problems();
  EXPECT_NE(std::find(problems.begin(), problems.end(),
                      "a write to the volume failed; it stays marked dirty"),
            problems.end());
  volume.reset();

  CheckResult check = CheckImage(image, FixtureManifest("small"), false);
  std::string unexpected;
  bool staleDotDot = false;
  EXPECT_TRUE(check.FsckOnlyCrashTraces(unexpected, staleDotDot)) << unexpected << "\n"
                                                                  << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
}

TEST_F(FatMove, RefusedRequestsChangeNothing) {
  Handle file = Open(kLarge);
  Handle root = Open("C:\\");
  std::vector<Extent> before = Extents(file);
  int64_t total = Total(before);
  int64_t target = FreeRunNearTheEnd(uint32_t(total));
  struct Case {
    const char* What;
    Handle File;
    int64_t Vcn;
    int64_t Lcn;
    uint32_t Count;
    NtStatus Expected;
  };
  const Case cases[] = {
      {"target in use", file, 0, 0, uint32_t(total), kStatusAlreadyCommitted},
      {"target partly in use", file, 0, before[1].Lcn - 1, 3, kStatusAlreadyCommitted},
      {"target beyond the volume", file, 0, int64_t(Clusters) - 2, uint32_t(total), kStatusInvalidParameter},
      {"range beyond the file", file, 1, target, uint32_t(total), kStatusInvalidParameter},
      {"no clusters", file, 0, target, 0, kStatusInvalidParameter},
      {"the root directory", root, 0, target, 1, kStatusAccessDenied},
      {"not a file handle", VolumeHandle, 0, target, 1, kStatusInvalidHandle},
  };
  for (const Case& c : cases) EXPECT_EQ(Move(c.File, c.Vcn, c.Lcn, c.Count), c.Expected) << c.What;
  EXPECT_EQ(Writes, 0u);
  for (Handle h : {file, root}) Volume->CloseHandle(h);
  std::vector<uint8_t> untouched = ReadWholeFile(FixtureImage("small"));
  Moves.reset();
  Volume.reset();
  EXPECT_EQ(ReadWholeFile(Image), untouched);
}

TEST_F(FatMove, WriteSessionMarksTheVolumeDirtyUntilItEnds) {
  Handle file = Open(kLarge);
  int64_t total = Total(Extents(file));
  ASSERT_EQ(Move(file, 0, FreeRunNearTheEnd(uint32_t(total)), uint32_t(total)), kStatusSuccess);
  Volume->CloseHandle(file);

  auto flagsAndFreeCount = [&] {
    std::vector<uint8_t> bytes = ReadWholeFile(Image);
    FatImageEditor editor(bytes);
    fat::Le32 freeCount;
    std::memcpy(&freeCount, bytes.data() + 512 + offsetof(fat::FsInfoSector, FreeCount), 4);
    uint32_t flags1 = editor.FatEntry(1);
    fat::Le32 second;
    std::memcpy(&second, bytes.data() + editor.Layout().FatOffset(1) + 4, 4);
    EXPECT_EQ(flags1, second.Get()) << "both FAT copies carry the same flags";
    return std::make_pair(flags1, freeCount.Get());
  };
  auto [dirtyFlags, unknownFree] = flagsAndFreeCount();
  EXPECT_EQ(dirtyFlags & fat::kFatCleanShutdownBit, 0u);
  EXPECT_EQ(unknownFree, fat::kFsInfoUnknown);

  DiskGeometry geometry;
  ASSERT_TRUE(Volume->GetGeometry("C:\\", geometry));
  Volume->EndWriteSession();
  auto [cleanFlags, freeCount] = flagsAndFreeCount();
  EXPECT_NE(cleanFlags & fat::kFatCleanShutdownBit, 0u);
  EXPECT_EQ(freeCount, geometry.NumberOfFreeClusters);
  CheckResult check = Finish();
  EXPECT_TRUE(check.FsckClean()) << check.Summary();
}

TEST(FatReadOnly, AnalysesNormallyAndItsMovesFailCleanly) {
  TempDir dir;
  std::filesystem::path image = CopyFixture("small", dir.Path());
  std::filesystem::permissions(image, std::filesystem::perms::owner_read);
  Manifest manifest = ReadManifest(FixtureManifest("small"));
  {
    FatEngineRig rig(OpenImage(image, true));
    rig.Run(dmFast, true);
    EXPECT_EQ(rig.Engine->State.load(), dsDefragged);
    TDefragReport& report = *rig.Engine->Report;
    EXPECT_EQ(report.FileCount.load(), int(manifest.Files.size()));
    EXPECT_EQ(report.DirCount.load(), int(manifest.Directories.size()));
    EXPECT_EQ(report.DefraggedFileCount.load() + report.DefraggedDirCount.load(), 0);
    std::vector<FILE_INFO> entries = report.Entries();
    EXPECT_EQ(entries.size(), manifest.Fragmented.size());
    for (const FILE_INFO& entry : entries) EXPECT_EQ(entry.Status, fsUnmovable) << entry.Name;
  }
  EXPECT_EQ(ReadWholeFile(image), ReadWholeFile(FixtureImage("small")));
}

class FatAnalysis : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FatAnalysis, WritesNothingAndCountsWhatTheManifestHolds) {
  TempDir dir;
  std::filesystem::path image = CopyFixture("small", dir.Path());
  Manifest manifest = ReadManifest(FixtureManifest("small"));
  uint64_t writes = 0;
  {
    FatEngineRig rig(std::make_unique<RecordingBlockDevice>(OpenImage(image, false), writes));
    rig.Run(GetParam(), false);
    EXPECT_EQ(rig.Engine->State.load(), dsAnalyzed);
    TDefragReport& report = *rig.Engine->Report;
    EXPECT_EQ(report.FileCount.load(), int(manifest.Files.size()));
    EXPECT_EQ(report.DirCount.load(), int(manifest.Directories.size()));
    EXPECT_EQ(report.FragmentedFileCount.load() + report.FragmentedDirCount.load(),
              int(manifest.Fragmented.size()));
  }
  EXPECT_EQ(writes, 0u);
  EXPECT_EQ(ReadWholeFile(image), ReadWholeFile(FixtureImage("small")));
}

INSTANTIATE_TEST_SUITE_P(Modes, FatAnalysis, ::testing::Values(dmFast, dmOptimize),
                         [](const auto& info) { return info.param == dmFast ? "Fast" : "Optimize"; });

} // namespace
} // namespace quillo::test
