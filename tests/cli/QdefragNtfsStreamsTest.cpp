// SPDX-License-Identifier: GPL-2.0-or-later
// Named data streams through the command line: listed as "X:\file:stream" in
// the text and JSON reports, joined by a pass (all but the change journal's),
// and read back unchanged by ntfs-3g's ntfscat.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "ToolRun.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kFixtureDir = QUILLO_NTFS_FIXTURE_DIR;

struct StreamLine {
  std::string Sha256;
  std::string Kind;
};

// streams-manifest.txt: "<sha256> <crc> <size> <kind> </file[:stream]>".
std::map<std::string, StreamLine> ReadStreamsManifest() {
  std::ifstream in(kFixtureDir / "streams-manifest.txt");
  std::map<std::string, StreamLine> lines;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    StreamLine entry;
    std::string crc, size, path;
    fields >> entry.Sha256 >> crc >> size >> entry.Kind;
    std::getline(fields, path);
    lines[path.substr(1)] = entry;
  }
  return lines;
}

// "/docs/file:stream" as the report names it on `volume` ("X:").
std::string ReportName(const std::string& volume, const std::string& path) {
  std::string name = volume + path;
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

TEST(QdefragNtfsStreams, ListedByNameAndJoined) {
  std::map<std::string, StreamLine> manifest = ReadStreamsManifest();
  TempDir folder;
  fs::path image = folder.Path() / "streams.img";
  fs::copy_file(kFixtureDir / "streams.img", image);

  ToolResult analysis = RunTool({"analyze", "--json", image.string()});
  ASSERT_EQ(analysis.Exit, 0) << analysis.Err;
  const json analysed = analysis.Json()["volumes"][0];
  const std::string letter = analysed["volume"];
  // The change journal's stream is listed too: fragmented, never moved.
  std::set<std::string> fragmented;
  for (const auto& [path, line] : manifest)
    if (line.Kind == "fragmented" || line.Kind == "system") fragmented.insert(ReportName(letter, path));
  ASSERT_EQ(fragmented.size(), 4u);
  std::set<std::string> listed;
  for (const json& entry : analysed["entries"]) listed.insert(entry["name"]);
  EXPECT_EQ(listed, fragmented);
  ToolResult text = RunTool({"analyze", image.string()});
  ASSERT_EQ(text.Exit, 0) << text.Err;
  EXPECT_NE(text.Out.find(letter + "\\streamed.bin:payload"), std::string::npos) << text.Out;

  ToolResult pass = RunTool({"defrag", "--json", image.string()});
  ASSERT_EQ(pass.Exit, 0) << pass.Err;
  const json volume = pass.Json()["volumes"][0];
  EXPECT_EQ(volume["outcome"], "defragmented");
  for (const json& entry : volume["entries"]) {
    bool journal = entry["name"].get<std::string>().find("$UsnJrnl") != std::string::npos;
    EXPECT_EQ(entry["result"], journal ? "Unmovable" : "Defragged") << entry["name"];
  }

  for (const auto& [path, line] : manifest) {
    size_t colon = path.find(':');
    std::vector<std::string> arguments{"-c", colon == std::string::npos
                                                 ? "ntfscat \"$0\" \"$1\" | sha256sum"
                                                 : "ntfscat -a 0x80 -n \"$2\" \"$0\" \"$1\" | sha256sum",
                                       image.string(), path.substr(0, colon)};
    if (colon != std::string::npos) arguments.push_back(path.substr(colon + 1));
    ToolResult cat = RunProgram("sh", arguments);
    EXPECT_EQ(cat.Out.substr(0, line.Sha256.size()), line.Sha256) << path;
  }
  ToolResult again = RunTool({"analyze", "--json", image.string()});
  ASSERT_EQ(again.Exit, 0) << again.Err;
  const json left = again.Json()["volumes"][0]["entries"];
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]["name"], ReportName(letter, "/$Extend/$UsnJrnl:$J"));
}

} // namespace
} // namespace quillo::test
