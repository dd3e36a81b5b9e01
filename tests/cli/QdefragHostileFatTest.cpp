// SPDX-License-Identifier: GPL-2.0-or-later
// The real qdefrag binary on hostile FAT32 images (directory entries that
// lead back into the tree, FAT mirroring turned off, a backup boot sector
// with another layout): `defrag` ends, tells what it found, reports the
// volume as refused with the reason and exit status 1, and leaves the
// image byte for byte as it was.
#include <gtest/gtest.h>

#include <string>

#include "FatHostileImages.h"
#include "FatImageKit.h"
#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Far beyond what a run on the small image takes under the sanitizers: only
// a walk that never ends runs into it.
constexpr const char* kPatienceSeconds = "300";
constexpr const char* kKillAfter = "--kill-after=10";
constexpr int kTimedOut = 124;
constexpr int kRefusedExit = 1;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class QdefragHostileFat : public ::testing::TestWithParam<HostileFatImage> {};

TEST_P(QdefragHostileFat, DefragEndsRefusedAndLeavesTheImageAsItWas) {
  const HostileFatImage& hostile = GetParam();
  TempDir folder;
  std::vector<uint8_t> bytes = ReadWholeFile(FixtureImage("small"));
  hostile.Damage(bytes);
  fs::path image = folder.Path() / "hostile.img";
  WriteWholeFile(image, bytes);
  std::string before = FileSha256(image);

  ToolResult result = RunProgram(
      "timeout", {kKillAfter, kPatienceSeconds, QDEFRAG_PATH, "defrag", "--json", image.string()});
  ASSERT_NE(result.Exit, kTimedOut) << "qdefrag did not end\n" << result.Err;
  EXPECT_EQ(result.Exit, kRefusedExit) << result.Err;
  json volume = result.Json()["volumes"][0];
  EXPECT_EQ(volume["outcome"], "refused") << volume.dump();
  ASSERT_TRUE(volume["error"].is_string()) << volume.dump();
  EXPECT_TRUE(Contains(volume["error"].get<std::string>(), hostile.Refusal)) << volume.dump();
  std::string told;
  for (const json& notice : volume["notices"]) told += notice.get<std::string>() + "\n";
  if (*hostile.Finding != '\0') {
    EXPECT_TRUE(Contains(told, hostile.Finding)) << told;
  }
  EXPECT_TRUE(Contains(result.Err, hostile.Refusal)) << result.Err;
  EXPECT_EQ(FileSha256(image), before);
}

INSTANTIATE_TEST_SUITE_P(Images, QdefragHostileFat, ::testing::ValuesIn(HostileFatImages()),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
