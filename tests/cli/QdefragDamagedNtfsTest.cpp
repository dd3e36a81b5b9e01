// SPDX-License-Identifier: GPL-2.0-or-later
// NTFS volumes whose metadata disagrees with itself, the real qdefrag binary
// on them: copies of the NTFS fixture image damaged on purpose (clusters of
// files marked free in $Bitmap, a zeroed $Bitmap, runlists that point at the
// boot sector, the MFT, $LogFile or another file's clusters, an attribute
// list that names a record not in use). Each is
// analysed with the reason told; both passes are refused with it and exit 1,
// and the image is byte-identical afterwards. ntfsresize, an independent
// checker, confirms that each image really is damaged.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRefusal = "Writes are refused: the volume's metadata is inconsistent";

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Damage {
  const char* Name;
  std::vector<std::vector<std::string>> ToolCommands; // each: COMMAND ARGS...
  const char* Words;                                  // in the reason
};

class QdefragDamagedNtfs : public ::testing::TestWithParam<Damage> {};

TEST_P(QdefragDamagedNtfs, AnalysedWithTheReasonAndRefusedForBothPasses) {
  const Damage& damage = GetParam();
  TempDir folder;
  fs::path image = folder.Path() / "damaged.img";
  fs::copy_file(fs::path(QUILLO_NTFS_FIXTURE_DIR) / "volume.img", image);
  for (const std::vector<std::string>& command : damage.ToolCommands) {
    std::vector<std::string> arguments{image.string()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    ToolResult made = RunProgram(QUILLO_NTFS_FIXTURE_TOOL, arguments);
    ASSERT_EQ(made.Exit, 0) << made.Err;
  }
  ToolResult independent = RunProgram("ntfsresize", {"--info", "--no-action", image.string()});
  ASSERT_TRUE(Contains(independent.Out + independent.Err, "inconsistent"))
      << "the damage is not there: " << independent.Out << independent.Err;
  std::string before = FileBytes(image);

  ToolResult analysis = RunTool({"analyze", "--json", image.string()});
  EXPECT_EQ(analysis.Exit, 0) << analysis.Err;
  EXPECT_TRUE(Contains(analysis.Err, kRefusal)) << analysis.Err;
  EXPECT_TRUE(Contains(analysis.Err, damage.Words)) << analysis.Err;
  nlohmann::json analysed = analysis.Json()["volumes"][0];
  EXPECT_EQ(analysed["outcome"], "analyzed");
  ASSERT_FALSE(analysed["notices"].empty());
  EXPECT_TRUE(Contains(analysed["notices"][0].get<std::string>(), kRefusal));

  for (bool optimise : {false, true}) {
    std::vector<std::string> arguments{"defrag", "--json", image.string()};
    if (optimise) arguments.insert(arguments.begin() + 1, "--optimize");
    ToolResult pass = RunTool(arguments);
    EXPECT_EQ(pass.Exit, 1) << pass.Out << pass.Err;
    nlohmann::json volume = pass.Json()["volumes"][0];
    EXPECT_EQ(volume["outcome"], "refused") << volume.dump();
    EXPECT_EQ(volume["stateText"], "Refused");
    EXPECT_TRUE(Contains(volume["error"].get<std::string>(), damage.Words)) << volume.dump();
    EXPECT_EQ(FileBytes(image), before) << (optimise ? "optimise" : "fast") << " pass wrote";

    // The text report says so too, and never that the volume was defragged.
    arguments.erase(arguments.begin() + (optimise ? 2 : 1));
    ToolResult text = RunTool(arguments);
    EXPECT_EQ(text.Exit, 1);
    EXPECT_TRUE(Contains(text.Out, "refused: " + std::string(kRefusal))) << text.Out;
    EXPECT_FALSE(Contains(text.Out, "Defragged")) << text.Out;
    EXPECT_EQ(FileBytes(image), before);
  }
}

const std::vector<Damage> kDamages = {
    {"BitmapClearedUnderTwoFiles",
     {{"bitmap-clear", "/fragmented-b.bin"}, {"bitmap-clear", "/docs/readme.txt"}},
     "that are in use are marked free in $Bitmap"},
    {"ZeroedBitmap", {{"bitmap-zero", "-"}}, "that are in use are marked free in $Bitmap (clusters 0-"},
    {"RunAtClusterZero", {{"relocate", "/fragmented-b.bin", "boot"}},
     "claims 1 cluster, from cluster 0, that another file"},
    {"RunIntoAnotherFile", {{"relocate", "/docs/readme.txt", "file:/docs/fragmented-a.bin"}},
     "(\\docs\\fragmented-a.bin): attribute 0x80 claims"},
    {"RunIntoTheMft", {{"relocate", "/docs/readme.txt", "mft"}},
     "(\\docs\\readme.txt): attribute 0x80 claims"},
    {"RunIntoLogFile", {{"relocate", "/docs/readme.txt", "logfile"}},
     "(\\docs\\readme.txt): attribute 0x80 claims"},
    {"AttributeListNamingAMissingRecord", {{"attrlist-retarget", "/attribute-list.bin", "30"}},
     "its attribute list names MFT record 30, which is not in use"},
};

INSTANTIATE_TEST_SUITE_P(Damages, QdefragDamagedNtfs, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
