// SPDX-License-Identifier: GPL-2.0-or-later
// The few words a list shows for a volume that cannot be used, over real
// images and the drive table's own reasons.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "TestSupport.h"
#include "platform/RefusalSummary.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kImageBytes = 8ull << 20;

fs::path Blank(const fs::path& path) {
  std::ofstream(path).flush();
  fs::resize_file(path, kImageBytes);
  return path;
}

void Run(const std::string& command) {
  ASSERT_EQ(std::system((command + " > /dev/null 2>&1").c_str()), 0) << command;
}

struct SummaryCase {
  const char* Name;
  // Makes the location under the folder; returns it.
  std::function<std::string(const fs::path&)> Make;
  const char* Why; // as the drive table gave it
  const char* Brief;
  bool Passing;
};

class RefusalSummaries : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(RefusalSummaries, NameTheObstacleInAFewWords) {
  TempDir dir;
  const SummaryCase& c = GetParam();
  std::string location = c.Make(dir.Path());
  RefusalSummary summary = SummariseRefusal(location, c.Why);
  EXPECT_EQ(summary.Brief, c.Brief);
  EXPECT_EQ(summary.Passing, c.Passing);
}

std::string Fat32(const fs::path& folder) {
  fs::path image = folder / "fat32.img";
  Run("mkfs.fat -F 32 -s 1 -C '" + image.string() + "' 34000");
  return image.string();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RefusalSummaries,
    ::testing::Values(
        SummaryCase{"MissingImage", [](const fs::path& folder) { return (folder / "gone.img").string(); },
                    "cannot open gone.img: No such file or directory", "image missing", false},
        SummaryCase{"MissingDevice", [](const fs::path&) { return std::string("/dev/quillo-none1"); },
                    "cannot open /dev/quillo-none1: No such file or directory", "device missing",
                    false},
        SummaryCase{"Ext4",
                    [](const fs::path& folder) {
                      fs::path image = Blank(folder / "ext4.img");
                      Run("mkfs.ext4 -q -F '" + image.string() + "'");
                      return image.string();
                    },
                    "neither FAT32 nor NTFS: no FAT boot sector signature", "not FAT32 or NTFS (ext4)",
                    false},
        SummaryCase{"Fat16",
                    [](const fs::path& folder) {
                      fs::path image = folder / "fat16.img";
                      Run("mkfs.fat -F 16 -C '" + image.string() + "' 16384");
                      return image.string();
                    },
                    "FAT16 is not supported (only FAT32 and NTFS): it has 8,164 clusters",
                    "not FAT32 or NTFS (FAT16)", false},
        SummaryCase{"Zeros",
                    [](const fs::path& folder) { return Blank(folder / "zeros.img").string(); },
                    "neither FAT32 nor NTFS: no FAT boot sector signature", "not FAT32 or NTFS",
                    false},
        SummaryCase{"LockedImage", Fat32, "/x/fat32.img is in use by another process",
                    "in use by another program", true},
        SummaryCase{"Mounted", Fat32, "/x/fat32.img is mounted on /media/stick", "Mounted", true},
        SummaryCase{"ShadowCopies", Fat32,
                    "the volume holds 2 Windows shadow copies (...)", "shadow copies", false}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
