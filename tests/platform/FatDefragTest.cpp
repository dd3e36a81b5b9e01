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
    EXPECT_EQ(rig.Engine->State.load(), dsDefragging == 3 ? dsDefragged : dsDefragged);
    for (const std::string& problem : rig.Volume->Problems()) ADD_FAILURE() << problem;
    auto& report = *rig.Engine->Report;
    std::printf("files %d dirs %d fragmented files %d dirs %d defragged files %d dirs %d\n",
                report.FileCount.load(), report.DirCount.load(), report.FragmentedFileCount.load(),
                report.FragmentedDirCount.load(), report.DefraggedFileCount.load(),
                report.DefraggedDirCount.load());
    for (const FILE_INFO& entry : report.Entries())
      std::printf("%s status %d extents %u\n", entry.Name.c_str(), entry.Status, entry.ExtentCount);
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
