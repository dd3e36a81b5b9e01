// SPDX-License-Identifier: GPL-2.0-or-later
// Hostile FAT32 images through the real engine: directory entries that lead
// back into the tree above them end the analysis with a finding instead of
// walking for ever, and such volumes, like those with FAT mirroring turned
// off or a backup boot sector with another layout, refuse every write and
// come out byte for byte as they went in. Differences a boot sector may
// have from its backup without harm do not stop a pass.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>

#include "FatEngineRig.h"
#include "FatHostileImages.h"
#include "FatImageEditor.h"
#include "FatImageKit.h"
#include "TestSupport.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

// Far beyond what the analysis of the small image takes under the
// sanitizers: only a walk that never ends runs into it.
constexpr auto kPatience = std::chrono::seconds(300);

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines)
    all += line + "\n";
  return all;
}

// Runs `step`; a step that has not ended within the patience is a hang,
// which ends the test program rather than the machine's memory.
void RunGuarded(const char* what, const std::function<void()>& step) {
  std::future<void> done = std::async(std::launch::async, step);
  if (done.wait_for(kPatience) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not end: the walk goes round for ever\n", what);
    std::abort();
  }
  done.get();
}

fs::path DamagedCopy(const fs::path& dir,
                     const std::function<void(std::vector<uint8_t>&)>& damage) {
  std::vector<uint8_t> bytes = ReadWholeFile(FixtureImage("small"));
  damage(bytes);
  fs::path image = dir / "hostile.img";
  WriteWholeFile(image, bytes);
  return image;
}

class FatHostileImage : public ::testing::TestWithParam<HostileFatImage> {};

TEST_P(FatHostileImage, AnalysisEndsWithItsFindingAndEveryWriteIsRefused) {
  const HostileFatImage& hostile = GetParam();
  TempDir dir;
  fs::path image = DamagedCopy(dir.Path(), hostile.Damage);
  std::string before = FileSha256(image);
  WriteVerdict verdict;
  {
    FatEngineRig rig(OpenImage(image, false));
    rig.Engine->State = dsAnalyzing;
    RunGuarded("the analysis", [&] { rig.Engine->Analyze(dmFast); });
    EXPECT_EQ(rig.Engine->State.load(), dsAnalyzed);
    // What can be read is still counted.
    EXPECT_GT(rig.Engine->Report->FileCount.load(), 100);
    EXPECT_GT(rig.Engine->Report->FragmentedFileCount.load(), 0);
    std::string told = Joined(rig.Volume->Notices());
    if (*hostile.Finding != '\0') {
      EXPECT_TRUE(Contains(told, hostile.Finding)) << told;
    } else {
      EXPECT_EQ(told, "");
    }

    rig.Engine->State = dsDefragging;
    RunGuarded("the pass", [&] { rig.Engine->Defrag(dmFast); });
    EXPECT_EQ(rig.Engine->Report->DefraggedFileCount.load(), 0);
    verdict = rig.Volume->GetWriteVerdict();
  }
  EXPECT_EQ(verdict.Result, WriteVerdict::Kind::Refused) << verdict.Reason;
  EXPECT_TRUE(Contains(verdict.Reason, hostile.Refusal)) << verdict.Reason;
  EXPECT_EQ(FileSha256(image), before);
}

INSTANTIATE_TEST_SUITE_P(Images, FatHostileImage, ::testing::ValuesIn(HostileFatImages()),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Boot sectors that differ from their backup without harm ---

struct HarmlessBootDifference {
  const char* Name;
  std::function<void(std::vector<uint8_t>&)> Apply;
};

void PrintTo(const HarmlessBootDifference& difference, std::ostream* out) {
  *out << difference.Name;
}

size_t BackupOffset(std::vector<uint8_t>& image) {
  FatImageEditor editor(image);
  return size_t(editor.Layout().BackupBootSector) * editor.Layout().BytesPerSector;
}

class FatHarmlessBootDifference : public ::testing::TestWithParam<HarmlessBootDifference> {};

TEST_P(FatHarmlessBootDifference, DoesNotStopThePass) {
  TempDir dir;
  fs::path image = DamagedCopy(dir.Path(), GetParam().Apply);
  Manifest manifest = ReadManifest(FixtureManifest("small"));
  {
    FatEngineRig rig(OpenImage(image, false));
    rig.Run(dmFast, true);
    EXPECT_EQ(rig.Engine->State.load(), dsDefragged);
    WriteVerdict verdict = rig.Volume->GetWriteVerdict();
    EXPECT_EQ(verdict.Result, WriteVerdict::Kind::Sound) << verdict.Reason;
    TDefragReport& report = *rig.Engine->Report;
    EXPECT_EQ(report.DefraggedFileCount.load() + report.DefraggedDirCount.load(),
              int(manifest.Fragmented.size()));
  }
  CheckResult check = CheckImage(image, FixtureManifest("small"), true);
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
  EXPECT_EQ(check.FilesGood, int(manifest.Files.size())) << check.Summary();
}

INSTANTIATE_TEST_SUITE_P(
    BootSectors, FatHarmlessBootDifference,
    ::testing::Values(
        // BkBootSec 0: the volume keeps no backup, whatever sector 6 holds.
        HarmlessBootDifference{"NoBackupKept",
                               [](auto& image) {
                                 size_t backup = BackupOffset(image);
                                 std::fill_n(
                                     image.begin() + std::ptrdiff_t(backup) +
                                         std::ptrdiff_t(offsetof(fat::BootSector, TotSec32)),
                                     sizeof(fat::Le32), 0x5A);
                                 image[offsetof(fat::BootSector, BkBootSec)] = 0;
                                 image[offsetof(fat::BootSector, BkBootSec) + 1] = 0;
                               }},
        // Label, volume ID, drive geometry and hidden sectors say nothing of
        // where the FATs and clusters lie.
        HarmlessBootDifference{"BackupDiffersOutsideTheLayout",
                               [](auto& image) {
                                 size_t backup = BackupOffset(image);
                                 for (size_t field : {offsetof(fat::BootSector, VolLab),
                                                      offsetof(fat::BootSector, VolID),
                                                      offsetof(fat::BootSector, SecPerTrk),
                                                      offsetof(fat::BootSector, HiddSec)})
                                   image[backup + field] ^= 0x01;
                               }},
        // A blank backup sector describes no layout another tool could take.
        HarmlessBootDifference{"BlankBackup",
                               [](auto& image) {
                                 size_t backup = BackupOffset(image);
                                 std::fill_n(image.begin() + std::ptrdiff_t(backup),
                                             sizeof(fat::BootSector), 0);
                               }}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
