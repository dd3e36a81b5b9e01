// SPDX-License-Identifier: GPL-2.0-or-later
// NTFS volumes with Windows shadow copies, the real qdefrag binary on them:
// copies of the NTFS fixture image given a "System Volume Information" with
// a shadow-copy catalog and store files, the volume header at byte 0x1E00
// (by the fixture tool, from the public description of the format). libvshadow's
// vshadowinfo, an independent reader, lists the stores before and after every
// run. With snapshots, or with a damaged header or catalog, the volume is
// analysed with the reason told, both passes are refused and the image stays
// byte for byte the same; without snapshots both passes run and the catalog
// and store files (fragmented on purpose) stay where they are.
#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFolder = "/System Volume Information/";
constexpr const char* kCatalogName = "{3808876b-c176-4e48-b7ae-04046e6cc752}";
// The first store file the fixture tool makes.
constexpr const char* kStoreName =
    "{352e2720-433c-514a-585f-666d747b8289}{3808876b-c176-4e48-b7ae-04046e6cc752}";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Sha256(const fs::path& image) {
  ToolResult digest = RunProgram("sha256sum", {image.string()});
  EXPECT_EQ(digest.Exit, 0) << digest.Err;
  return digest.Out.substr(0, digest.Out.find(' '));
}

// The runs of a file's data as The Sleuth Kit's istat -r lists them, one
// "Starting address" line each.
std::vector<std::string> TskRunLines(const fs::path& image, const std::string& path) {
  ToolResult found = RunProgram("ifind", {"-n", path, image.string()});
  EXPECT_EQ(found.Exit, 0) << path << ": " << found.Err;
  std::string record = found.Out.substr(0, found.Out.find('\n'));
  ToolResult shown = RunProgram("istat", {"-r", image.string(), record});
  std::vector<std::string> runs;
  std::istringstream lines(shown.Out);
  for (std::string line; std::getline(lines, line);)
    if (Contains(line, "Starting address: ")) runs.push_back(line);
  return runs;
}

struct ShadowCase {
  const char* Name;
  std::vector<std::string> Made; // vss STORES [DAMAGE]
  int Listed;                    // stores vshadowinfo lists; -1: damaged, not asked
  const char* Words;             // in the refusal; null when both passes run
};

class QdefragShadowCopies : public ::testing::TestWithParam<ShadowCase> {};

TEST_P(QdefragShadowCopies, RefusedWhileSnapshotsOrDamageAndTheStoresNeverMove) {
  const ShadowCase& shadow = GetParam();
  TempDir folder;
  fs::path image = folder.Path() / "shadows.img";
  fs::copy_file(fs::path(QUILLO_NTFS_FIXTURE_DIR) / "volume.img", image);
  std::vector<std::string> arguments{image.string(), "vss"};
  arguments.insert(arguments.end(), shadow.Made.begin(), shadow.Made.end());
  ToolResult made = RunProgram(QUILLO_NTFS_FIXTURE_TOOL, arguments);
  ASSERT_EQ(made.Exit, 0) << made.Err;

  std::string listing;
  if (shadow.Listed >= 0) {
    ToolResult info = RunProgram("vshadowinfo", {image.string()});
    ASSERT_EQ(info.Exit, 0) << info.Out << info.Err;
    EXPECT_TRUE(Contains(info.Out, "Number of stores:\t" + std::to_string(shadow.Listed) + "\n"))
        << info.Out;
    if (shadow.Listed > 0) {
      EXPECT_TRUE(Contains(info.Out, "Jun 07, 2024 10:00:00")) << info.Out;
    }
    if (shadow.Listed > 1) {
      EXPECT_TRUE(Contains(info.Out, "Jun 08, 2024 10:00:00")) << info.Out;
    }
    listing = info.Out;
  }
  std::vector<std::string> catalogRuns = TskRunLines(image, kFolder + std::string(kCatalogName));
  std::vector<std::string> storeRuns = TskRunLines(image, kFolder + std::string(kStoreName));
  ASSERT_GE(catalogRuns.size(), 2u) << "the catalog file is not fragmented";
  ASSERT_GE(storeRuns.size(), 2u) << "the store file is not fragmented";
  std::string before = Sha256(image);

  ToolResult analysis = RunTool({"analyze", "--json", image.string()});
  EXPECT_EQ(analysis.Exit, 0) << analysis.Err;
  nlohmann::json analysed = analysis.Json()["volumes"][0];
  EXPECT_EQ(analysed["outcome"], "analyzed");
  std::string notices = analysed["notices"].dump();
  if (shadow.Words) {
    EXPECT_TRUE(Contains(notices, shadow.Words)) << notices;
    EXPECT_TRUE(Contains(analysis.Err, shadow.Words)) << analysis.Err;
    EXPECT_TRUE(Contains(notices, "Defragment this volume from Windows")) << notices;
  } else {
    EXPECT_FALSE(Contains(notices, "shadow")) << notices;
  }
  EXPECT_EQ(Sha256(image), before) << "the analysis wrote";

  for (bool optimise : {false, true}) {
    SCOPED_TRACE(optimise ? "defrag --optimize" : "defrag");
    std::vector<std::string> pass{"defrag", "--json", image.string()};
    if (optimise) pass.insert(pass.begin() + 1, "--optimize");
    ToolResult run = RunTool(pass);
    nlohmann::json volume = run.Json()["volumes"][0];
    if (shadow.Words) {
      EXPECT_EQ(run.Exit, 1) << run.Out << run.Err;
      EXPECT_EQ(volume["outcome"], "refused") << volume.dump();
      EXPECT_TRUE(Contains(volume["error"].get<std::string>(), shadow.Words)) << volume.dump();
      EXPECT_EQ(Sha256(image), before);
    } else {
      EXPECT_EQ(run.Exit, 0) << run.Out << run.Err;
      EXPECT_EQ(volume["outcome"], "defragmented") << volume.dump();
      ToolResult check = RunProgram("ntfsresize", {"--info", "--no-action", image.string()});
      EXPECT_EQ(check.Exit, 0) << check.Out << check.Err;
      EXPECT_FALSE(Contains(check.Out + check.Err, "inconsistent")) << check.Out << check.Err;
    }
    EXPECT_EQ(TskRunLines(image, kFolder + std::string(kCatalogName)), catalogRuns);
    EXPECT_EQ(TskRunLines(image, kFolder + std::string(kStoreName)), storeRuns);
    if (shadow.Listed >= 0) {
      ToolResult info = RunProgram("vshadowinfo", {image.string()});
      EXPECT_EQ(info.Exit, 0) << info.Err;
      EXPECT_EQ(info.Out, listing);
    }
  }
  // Without snapshots the passes did move files: the stores stayed put
  // while others moved.
  if (!shadow.Words) {
    EXPECT_NE(Sha256(image), before);
  }
}

const std::vector<ShadowCase> kShadowCases = {
    {"TwoSnapshots", {"2"}, 2, "the volume holds 2 Windows shadow copies"},
    {"OneSnapshot", {"1"}, 1, "the volume holds 1 Windows shadow copy ("},
    {"NoSnapshots", {"0"}, 0, nullptr},
    {"CatalogOutsideTheVolume", {"1", "catalog-outside"}, -1, "lies outside the volume"},
    {"CatalogBlocksInALoop", {"2", "catalog-loop"}, -1, "chain of blocks loops back"},
    {"StoreHeaderOutsideTheVolume", {"1", "store-outside"}, -1, "outside the volume"},
    {"UnknownCatalogEntry", {"1", "unknown-entry"}, -1, "entry of unknown type 0x7F"},
    {"UnknownHeaderVersion", {"1", "bad-version"}, -1, "unknown version 9"},
};

INSTANTIATE_TEST_SUITE_P(Volumes, QdefragShadowCopies, ::testing::ValuesIn(kShadowCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
