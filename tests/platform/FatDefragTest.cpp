// SPDX-License-Identifier: GPL-2.0-or-later
// The FAT engine end to end on real FAT32 images: analysis and both passes,
// checked afterwards by fsck.fat, mcopy and mshowfat.
#include <gtest/gtest.h>

#include <algorithm>

#include "FatEngineRig.h"
#include "FatImageKit.h"
#include "TestSupport.h"

namespace quillo::test {
namespace {

class FatDefragEndToEnd : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FatDefragEndToEnd, DefragmentsAndKeepsEveryByte) {
  TempDir dir;
  std::filesystem::path image = CopyFixture("small", dir.Path());
  Manifest manifest = ReadManifest(FixtureManifest("small"));
  {
    FatEngineRig rig(OpenImage(image, false));
    rig.Run(GetParam(), true);
    EXPECT_EQ(rig.Engine->State.load(), dsDefragged);
    for (const std::string& problem : rig.Volume->Problems()) ADD_FAILURE() << problem;
    // Every fragmented file and directory of the manifest was joined, and
    // the report says so.
    TDefragReport& report = *rig.Engine->Report;
    EXPECT_EQ(report.FileCount.load(), int(manifest.Files.size()));
    EXPECT_EQ(report.DirCount.load(), int(manifest.Directories.size()));
    EXPECT_EQ(report.DefraggedFileCount.load() + report.DefraggedDirCount.load(),
              int(manifest.Fragmented.size()));
    std::vector<FILE_INFO> entries = report.Entries();
    EXPECT_EQ(entries.size(), manifest.Fragmented.size());
    for (const FILE_INFO& entry : entries) {
      EXPECT_EQ(entry.Status, fsDefragged) << entry.Name;
      EXPECT_EQ(entry.ExtentCount, 1u) << entry.Name;
    }
  }
  CheckResult check = CheckImage(image, FixtureManifest("small"), true);
  EXPECT_TRUE(check.FsckClean()) << check.Summary();
  EXPECT_EQ(check.FilesBad, 0) << check.Summary();
  EXPECT_EQ(check.FilesGood, int(manifest.Files.size()));
  for (const std::string& path : manifest.Fragmented) EXPECT_EQ(check.Runs.at(path), 1) << path;
}

INSTANTIATE_TEST_SUITE_P(Modes, FatDefragEndToEnd, ::testing::Values(dmFast, dmOptimize),
                         [](const auto& info) { return info.param == dmFast ? "Fast" : "Optimize"; });

} // namespace
} // namespace quillo::test
