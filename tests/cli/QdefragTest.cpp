// SPDX-License-Identifier: GPL-2.0-or-later
// The real qdefrag binary on the demo volumes: exit statuses, the JSON
// report, the options, and Ctrl-C in the middle of a pass.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <set>

#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

using nlohmann::json;

constexpr auto kPatience = std::chrono::seconds(120);

struct UsageCase {
  std::vector<std::string> Arguments;
  const char* Message;
};

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, ExitTwoWithAMessageOnStandardError) {
  ToolResult result = RunTool(GetParam().Arguments);
  EXPECT_EQ(result.Exit, 2);
  EXPECT_EQ(result.Out, "");
  EXPECT_NE(result.Err.find(GetParam().Message), std::string::npos) << result.Err;
  EXPECT_NE(result.Err.find("Try 'qdefrag --help'"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UsageErrors,
    ::testing::Values(UsageCase{{}, "missing command"},
                      UsageCase{{"shrink", "demo:"}, "unknown command 'shrink'"},
                      UsageCase{{"analyze"}, "missing target"},
                      UsageCase{{"analyze", "--frobnicate", "demo:"}, "unrecognized option"},
                      UsageCase{{"analyze", "-k", "demo:"}, "invalid option -- 'k'"},
                      UsageCase{{"analyze", "--sort=size", "demo:"}, "'--sort'"},
                      UsageCase{{"analyze", "--size-limit", "lots", "demo:"}, "invalid size"},
                      UsageCase{{"analyze", "--size-limit", std::string(5000, '9'), "demo:"},
                                "for '--size-limit' is too large (at most 8191P)"},
                      UsageCase{{"analyze", "-s", std::string(5000, '9') + "G", "demo:"},
                                "is too large"},
                      UsageCase{{"analyze", "demo:", "--exclude"}, "requires an argument"},
                      UsageCase{{"list", "demo:"}, "takes no targets"},
                      UsageCase{{"list", "--map"}, "'list' takes only"},
                      UsageCase{{"analyze", "--json=yes", "demo:"}, "doesn't allow an argument"}));

TEST(Qdefrag, HelpAndVersion) {
  ToolResult help = RunTool({"--help"});
  EXPECT_EQ(help.Exit, 0);
  EXPECT_NE(help.Out.find("Usage: qdefrag"), std::string::npos);
  ToolResult version = RunTool({"-V"});
  EXPECT_EQ(version.Exit, 0);
  EXPECT_EQ(version.Out.rfind("qdefrag (Quillo Defrag) ", 0), 0u) << version.Out;
}

TEST(Qdefrag, ListShowsTheDemoVolumes) {
  ToolResult result = RunTool({"list", "--json"});
  ASSERT_EQ(result.Exit, 0) << result.Err;
  std::set<std::string> targets;
  json report = result.Json();
  for (const json& volume : report["volumes"]) {
    if (!volume["usable"].get<bool>()) {
      EXPECT_FALSE(volume["why"].get<std::string>().empty());
    }
    targets.insert(volume["target"].get<std::string>());
  }
  EXPECT_TRUE(targets.count("demo:"));
  EXPECT_TRUE(targets.count("demo:fat32"));
}

TEST(Qdefrag, AnalyzeReportsFiguresEntriesAndMap) {
  ToolResult result = RunTool({"analyze", "--json", "--map", "demo:"});
  ASSERT_EQ(result.Exit, 0) << result.Err;
  json report = result.Json();
  EXPECT_EQ(report["command"], "analyze");
  EXPECT_EQ(report["mode"], "fast");
  EXPECT_FALSE(report["interrupted"].get<bool>());
  ASSERT_EQ(report["volumes"].size(), 1u);
  const json& volume = report["volumes"][0];
  EXPECT_EQ(volume["outcome"], "analyzed");
  EXPECT_EQ(volume["fileSystem"], "NTFS");
  EXPECT_EQ(volume["state"], 2);
  EXPECT_EQ(volume["stateText"], "Analyzed");
  EXPECT_EQ(volume["totalBytes"].get<uint64_t>(), volume["totalClusters"].get<uint64_t>() *
                                                      volume["sectorsPerCluster"].get<uint64_t>() *
                                                      volume["bytesPerSector"].get<uint64_t>());
  EXPECT_GT(volume["files"].get<int>(), 0);
  EXPECT_GT(volume["directories"].get<int>(), 0);
  EXPECT_TRUE(volume["fragmentationAfter"].is_null());
  EXPECT_TRUE(volume["suggestion"].is_string());
  EXPECT_TRUE(volume["startTime"].is_null()); // no pass ran
  EXPECT_TRUE(volume["contentIntact"].get<bool>());

  // Every entry is a fragmented file found by the analysis, and they add
  // up to the fragmentation figure.
  uint64_t clusters = 0;
  for (const json& entry : volume["entries"]) {
    EXPECT_EQ(entry["result"], "Analyzed");
    EXPECT_GT(entry["fragments"].get<int>(), 1);
    clusters += entry["clusters"].get<uint64_t>();
  }
  EXPECT_EQ(volume["entries"].size(), volume["fragmented"].get<size_t>());
  double before = double(clusters) * 100.0 / double(volume["totalClusters"].get<uint64_t>() + 1);
  EXPECT_NEAR(volume["fragmentationBefore"].get<double>(), before, 0.01);

  const json& map = volume["map"];
  ASSERT_EQ(map["columns"], 74);
  ASSERT_EQ(map["rows"], 22);
  ASSERT_EQ(map["cells"].size(), 22u);
  std::string cells;
  for (const json& row : map["cells"]) {
    ASSERT_EQ(row.get<std::string>().size(), 74u);
    cells += row.get<std::string>();
  }
  // An NTFS volume with fragmented files: they, the MFT and free space show.
  for (char category : {'0', '6', '7'})
    EXPECT_NE(cells.find(category), std::string::npos) << category;
}

TEST(Qdefrag, DefragJoinsTheFragmentedFilesAndKeepsTheContent) {
  for (const char* target : {"demo:fat32", "demo:"}) {
    ToolResult result = RunTool({"defrag", "--json", "--sort=clusters", target});
    ASSERT_EQ(result.Exit, 0) << result.Err;
    const json volume = result.Json()["volumes"][0];
    EXPECT_EQ(volume["outcome"], "defragmented") << target;
    EXPECT_EQ(volume["state"], 5);
    EXPECT_EQ(volume["stateText"], "Defragged");
    EXPECT_TRUE(volume["suggestion"].is_null());
    EXPECT_TRUE(volume["startTime"].is_string());
    EXPECT_LE(volume["fragmentationAfter"].get<double>(),
              volume["fragmentationBefore"].get<double>());
    EXPECT_TRUE(volume["contentIntact"].get<bool>()) << volume.value("contentProblem", "");
    int defragged = 0;
    uint64_t previous = UINT64_MAX;
    for (const json& entry : volume["entries"]) {
      std::string outcome = entry["result"];
      EXPECT_TRUE(outcome == "Defragged" || outcome == "NoSpace" || outcome == "Unmovable")
          << outcome;
      defragged += outcome == "Defragged";
      EXPECT_LE(entry["clusters"].get<uint64_t>(), previous);
      previous = entry["clusters"].get<uint64_t>();
    }
    EXPECT_EQ(volume["defragmented"].get<int>(), defragged);
    EXPECT_GT(defragged, 0);
  }
}

TEST(Qdefrag, OptimizeRunsTheOptimizingPass) {
  ToolResult result = RunTool({"defrag", "-oj", "demo:fat32"});
  ASSERT_EQ(result.Exit, 0) << result.Err;
  json report = result.Json();
  EXPECT_EQ(report["mode"], "optimize");
  EXPECT_EQ(report["volumes"][0]["stateText"], "Optimized");
  EXPECT_TRUE(report["volumes"][0]["contentIntact"].get<bool>());
}

TEST(Qdefrag, ExcludeMasksAndSizeLimitLeaveFilesOut) {
  json all = RunTool({"analyze", "--json", "demo:"}).Json()["volumes"][0];
  auto count = [](const json& volume, auto predicate) {
    return std::count_if(volume["entries"].begin(), volume["entries"].end(), predicate);
  };
  auto isJpeg = [](const json& entry) {
    std::string name = entry["name"];
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0;
  };
  ASSERT_GT(count(all, isJpeg), 0);

  json masked = RunTool({"analyze", "--json", "--exclude", "*.JPG", "-x", "*\\Temp\\*", "demo:"})
                    .Json()["volumes"][0];
  EXPECT_EQ(count(masked, isJpeg), 0);
  EXPECT_EQ(count(masked,
                  [](const json& e) {
                    return e["name"].get<std::string>().find("\\Temp\\") != std::string::npos;
                  }),
            0);
  EXPECT_LT(masked["entries"].size(), all["entries"].size());

  constexpr uint64_t kLimit = 100 * 1024;
  json limited = RunTool({"analyze", "--json", "--size-limit=100K", "demo:"}).Json()["volumes"][0];
  EXPECT_LT(limited["entries"].size(), all["entries"].size());
  // A file's clusters hold its size and less than one cluster more.
  uint64_t cluster =
      limited["sectorsPerCluster"].get<uint64_t>() * limited["bytesPerSector"].get<uint64_t>();
  for (const json& entry : limited["entries"])
    EXPECT_LT(entry["bytes"].get<uint64_t>(), kLimit + cluster) << entry["name"];
}

TEST(Qdefrag, UnusableTargetsFailWithTheirReason) {
  ToolResult result = RunTool({"analyze", "--json", "demo:ext4", "demo:fat32"});
  EXPECT_EQ(result.Exit, 1);
  json volumes = result.Json()["volumes"];
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(volumes[0]["outcome"], "refused");
  EXPECT_NE(volumes[0]["error"].get<std::string>().find("unknown demo volume"), std::string::npos);
  // The usable target is still done.
  EXPECT_EQ(volumes[1]["outcome"], "analyzed");
}

TEST(Qdefrag, TextSummaryFollowsTheReportFigures) {
  ToolResult result = RunTool({"analyze", "--sort=name", "demo:fat32"});
  ASSERT_EQ(result.Exit, 0) << result.Err;
  for (const char* label : {"Disk size", "Free space", "Clusters", "Files/directories",
                            "Fragmented", "Fragmentation", "Suggestion", "FileName", "Analyzed"})
    EXPECT_NE(result.Out.find(label), std::string::npos) << label;
  // Not a terminal: plain progress lines, no cursor movement.
  EXPECT_NE(result.Err.find("Analyzed"), std::string::npos);
  EXPECT_EQ(result.Err.find('\x1b'), std::string::npos);

  ToolResult quiet = RunTool({"analyze", "-q", "demo:fat32"});
  EXPECT_EQ(quiet.Exit, 0);
  EXPECT_EQ(quiet.Out, "");
  EXPECT_EQ(quiet.Err, "");
}

TEST(Qdefrag, InterruptDuringAPassStopsCleanlyWithStatus130) {
  TempDir folder;
  ToolProcess process(QDEFRAG_PATH, {"defrag", "--optimize", "--json", "demo:"}, folder.Path(),
                      folder.Path() / "home");
  ASSERT_TRUE(process.WaitForError({"Optimizing"}, kPatience)) << "the pass never showed";
  process.Signal(SIGINT);
  ToolResult result = process.Wait();
  EXPECT_EQ(result.Exit, 130) << result.Err;
  json report = result.Json();
  EXPECT_TRUE(report["interrupted"].get<bool>());
  const json& volume = report["volumes"][0];
  EXPECT_EQ(volume["outcome"], "stopped");
  EXPECT_EQ(volume["stateText"], "Idle");
  // The partial report: what the pass did before it stopped.
  EXPECT_TRUE(volume["startTime"].is_string());
  EXPECT_FALSE(volume["entries"].empty());
  // No move was cut short: every file holds its data.
  EXPECT_TRUE(volume["contentIntact"].get<bool>()) << volume.value("contentProblem", "");
}

} // namespace
} // namespace quillo::test
