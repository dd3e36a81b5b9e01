// SPDX-License-Identifier: GPL-2.0-or-later
// The NTFS root directory is a directory like any other: a root whose index
// allocation lies in many pieces is joined by a pass, and The Sleuth Kit and
// ntfs-3g's tools find every entry and a consistent volume afterwards.
#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kImageSize = "32M";
constexpr const char* kHoles = "1500";  // one-cluster files, every other one freed
constexpr const char* kEntries = "150"; // long names: ~20 index blocks

// The allocated runs of the root's $I30 index allocation, by istat.
int RootIndexRuns(const fs::path& image) {
  ToolResult stat = RunProgram("istat", {image.string(), "5"});
  std::istringstream lines(stat.Out);
  std::string line;
  bool inIndex = false;
  int runs = 0;
  long previous = -2;
  while (std::getline(lines, line)) {
    if (line.rfind("Type: ", 0) == 0) {
      inIndex = line.find("$INDEX_ALLOCATION") != std::string::npos;
      continue;
    }
    if (!inIndex) continue;
    std::istringstream clusters(line);
    long cluster = 0;
    while (clusters >> cluster) {
      if (cluster != previous + 1) ++runs;
      previous = cluster;
    }
  }
  return runs;
}

TEST(QdefragNtfsRoot, AFragmentedRootIndexIsJoined) {
  TempDir folder;
  fs::path image = folder.Path() / "root.img";
  ASSERT_EQ(RunProgram("truncate", {"-s", kImageSize, image.string()}).Exit, 0);
  ASSERT_EQ(RunProgram("mkntfs", {"-F", "-Q", "-q", "-c", "4096", image.string()}).Exit, 0);
  for (const std::vector<std::string>& step :
       {std::vector<std::string>{"checkerboard", "/holes", kHoles},
        std::vector<std::string>{"names", "/", kEntries}, std::vector<std::string>{"clear", "/holes"}}) {
    std::vector<std::string> arguments{image.string()};
    arguments.insert(arguments.end(), step.begin(), step.end());
    ASSERT_EQ(RunProgram(QUILLO_NTFS_FIXTURE_TOOL, arguments).Exit, 0) << step.front();
  }
  ASSERT_GT(RootIndexRuns(image), 1) << "the fixture's root index is not fragmented";
  std::string listing = RunProgram("fls", {image.string()}).Out;

  for (const char* mode : {"--optimize", ""}) {
    std::vector<std::string> arguments{"defrag", "--json", image.string()};
    if (*mode) arguments.insert(arguments.begin() + 1, mode);
    ToolResult pass = RunTool(arguments);
    ASSERT_EQ(pass.Exit, 0) << pass.Err;
    EXPECT_EQ(pass.Json()["volumes"][0]["outcome"], "defragmented");
    EXPECT_EQ(RootIndexRuns(image), 1);
    EXPECT_EQ(RunProgram("fls", {image.string()}).Out, listing);
    ToolResult check = RunProgram("ntfsresize", {"--info", "--no-action", image.string()});
    EXPECT_EQ(check.Exit, 0) << check.Out << check.Err;
  }
}

} // namespace
} // namespace quillo::test
