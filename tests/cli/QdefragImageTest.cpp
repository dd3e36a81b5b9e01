// SPDX-License-Identifier: GPL-2.0-or-later
// The real qdefrag binary on FAT32 fixture images made by mkfs.fat and
// mtools under a temporary folder, checked afterwards by fsck.fat, mcopy
// and mshowfat: by path, as a partition of a partitioned image, by a drive
// letter of drives.ini, and interrupted.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/file.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "ToolRun.h"
#include "settings/Setting.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr auto kPatience = std::chrono::seconds(120);
constexpr uint64_t kPartitionStart = 1 << 20; // 1 MiB, sector 2048
constexpr uint32_t kSectorBytes = 512;
constexpr size_t kMbrEntryOffset = 446;
constexpr uint8_t kFat32LbaType = 0x0C;

fs::path Script() {
  return SourceDir() / "tests" / "fixtures" / "fat32_image.py";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// What fat32_image.py check found.
struct ImageCheck {
  int Fsck = -1;
  int Matching = 0;
  int Mismatching = -1;
  std::map<std::string, int> Runs; // with --contiguous
  std::string Report;
};

// One pristine image for the whole suite; each test works on a copy.
class QdefragOnImages : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Pristine = new TempDir;
    ToolResult made =
        RunProgram("python3", {Script().string(), "make", "--profile", "small", "--image",
                               (Pristine->Path() / "small.img").string(), "--manifest",
                               (Pristine->Path() / "small.manifest").string()});
    MakeFailure = made.Exit == 0 ? "" : made.Err;
  }
  static void TearDownTestSuite() {
    delete Pristine;
    Pristine = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(MakeFailure, "") << "the fixture image could not be made";
    Image = Folder.Path() / "volume.img";
    Manifest = Pristine->Path() / "small.manifest";
    Home = Folder.Path() / "home";
    fs::create_directories(Home);
    fs::copy_file(Pristine->Path() / "small.img", Image);
  }

  ImageCheck Check(const fs::path& image, bool contiguous) {
    std::vector<std::string> arguments{
        Script().string(), "check",           "--image", image.string(),
        "--manifest",      Manifest.string(), "--work",  (Folder.Path() / "check").string()};
    if (contiguous) arguments.push_back("--contiguous");
    fs::remove_all(Folder.Path() / "check");
    ToolResult result = RunProgram("python3", arguments);
    ImageCheck check;
    check.Report = result.Out + result.Err;
    std::istringstream lines(result.Out);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string kind;
      words >> kind;
      if (kind == "FSCK") words >> check.Fsck;
      if (kind == "CONTENT") words >> check.Matching >> check.Mismatching;
      if (kind == "RUNS") {
        int runs = 0;
        words >> runs;
        std::string path;
        std::getline(words >> std::ws, path);
        check.Runs[path] = runs;
      }
    }
    return check;
  }

  // The entries the fixture made fragmented, as paths below the root.
  std::set<std::string> FragmentedInManifest() const {
    std::set<std::string> paths;
    std::istringstream lines(ReadFile(Manifest));
    std::string line;
    while (std::getline(lines, line))
      if (line.rfind("X\t", 0) == 0) paths.insert(line.substr(2));
    return paths;
  }

  // "C:\Frag\Large" -> "Frag/Large".
  static std::string BelowRoot(const std::string& name) {
    std::string path = name.substr(3);
    for (char& c : path)
      if (c == '\\') c = '/';
    return path;
  }

  ToolResult Run(const std::vector<std::string>& arguments) { return RunTool(arguments, Home); }

  static inline TempDir* Pristine = nullptr;
  static inline std::string MakeFailure;
  TempDir Folder;
  fs::path Image;
  fs::path Manifest;
  fs::path Home;
};

TEST_F(QdefragOnImages, AnalysisFindsTheFragmentedEntriesAndWritesNothing) {
  std::string before = ReadFile(Image);
  ToolResult result = Run({"analyze", "--json", "--map", Image.string()});
  ASSERT_EQ(result.Exit, 0) << result.Err;
  const json volume = result.Json()["volumes"][0];
  EXPECT_EQ(volume["outcome"], "analyzed");
  EXPECT_EQ(volume["fileSystem"], "FAT32");
  std::set<std::string> found;
  for (const json& entry : volume["entries"])
    found.insert(BelowRoot(entry["name"]));
  EXPECT_EQ(found, FragmentedInManifest());
  EXPECT_EQ(volume["map"]["cells"].size(), 22u);
  EXPECT_TRUE(ReadFile(Image) == before) << "an analysis changed the image";
}

TEST_F(QdefragOnImages, DefragAndOptimizeJoinTheFilesAndKeepEveryByte) {
  for (const char* mode : {"--quiet", "--optimize"}) {
    ToolResult result = Run({"defrag", "--json", mode, Image.string()});
    ASSERT_EQ(result.Exit, 0) << result.Err;
    const json volume = result.Json()["volumes"][0];
    EXPECT_EQ(volume["outcome"], "defragmented") << mode;
    ImageCheck check = Check(Image, true);
    EXPECT_EQ(check.Fsck, 0) << check.Report;
    EXPECT_EQ(check.Mismatching, 0) << check.Report;
    EXPECT_GT(check.Matching, 0);
    // Whatever the pass reports joined is in one run now.
    for (const json& entry : volume["entries"]) {
      if (entry["result"] != "Defragged") continue;
      EXPECT_EQ(check.Runs[BelowRoot(entry["name"])], 1) << entry["name"];
    }
  }
  // Nothing is left fragmented on this roomy volume.
  const json again = Run({"analyze", "--json", Image.string()}).Json()["volumes"][0];
  EXPECT_EQ(again["fragmented"], 0);
}

TEST_F(QdefragOnImages, PartitionOfAPartitionedImage) {
  // An MBR with one FAT32 partition at 1 MiB holding the fixture volume.
  fs::path disk = Folder.Path() / "disk.img";
  std::string volume = ReadFile(Image);
  std::string bytes(kPartitionStart, '\0');
  uint32_t startSector = kPartitionStart / kSectorBytes;
  uint32_t sectors = uint32_t(volume.size() / kSectorBytes);
  unsigned char entry[16] = {0x00, 0xFE, 0xFF, 0xFF, kFat32LbaType, 0xFE, 0xFF, 0xFF};
  for (int i = 0; i < 4; ++i) {
    entry[8 + i] = uint8_t(startSector >> (8 * i));
    entry[12 + i] = uint8_t(sectors >> (8 * i));
  }
  bytes.replace(kMbrEntryOffset, sizeof entry, reinterpret_cast<char*>(entry), sizeof entry);
  bytes[510] = char(0x55);
  bytes[511] = char(0xAA);
  std::ofstream(disk, std::ios::binary) << bytes << volume;

  ToolResult first = Run({"defrag", "--json", disk.string() + "#1"});
  ASSERT_EQ(first.Exit, 0) << first.Err;
  EXPECT_EQ(first.Json()["volumes"][0]["outcome"], "defragmented");
  // The partition is the volume: cut it out again and check it.
  std::string after = ReadFile(disk).substr(kPartitionStart);
  std::ofstream(Image, std::ios::binary | std::ios::trunc) << after;
  ImageCheck check = Check(Image, false);
  EXPECT_EQ(check.Fsck, 0) << check.Report;
  EXPECT_EQ(check.Mismatching, 0) << check.Report;

  ToolResult missing = Run({"analyze", "--json", disk.string() + "#2"});
  EXPECT_EQ(missing.Exit, 1);
  EXPECT_EQ(missing.Json()["volumes"][0]["outcome"], "refused");
}

TEST_F(QdefragOnImages, DriveLetterOfDrivesIni) {
  fs::create_directories(Home);
  std::ofstream(Home / "drives.ini") << "[drives]\nE=" << Image.string() << "\n";
  ToolResult list = Run({"list", "--json"});
  ASSERT_EQ(list.Exit, 0) << list.Err;
  bool listed = false;
  const json listing = list.Json();
  for (const json& volume : listing["volumes"]) {
    if (volume["letter"] != "E:") continue;
    listed = true;
    EXPECT_EQ(volume["target"], Image.string());
    EXPECT_EQ(volume["fileSystem"], "FAT32");
    EXPECT_TRUE(volume["usable"].get<bool>()) << volume["why"];
    EXPECT_GT(volume["sizeBytes"].get<uint64_t>(), 0u);
  }
  EXPECT_TRUE(listed) << list.Out;

  // By letter, and by path: the same volume under the same letter.
  for (const std::string& target : {std::string("e:"), Image.string()}) {
    ToolResult result = Run({"analyze", "--json", target});
    ASSERT_EQ(result.Exit, 0) << result.Err;
    const json volume = result.Json()["volumes"][0];
    EXPECT_EQ(volume["volume"], "E:") << target;
    for (const json& entry : volume["entries"])
      EXPECT_EQ(entry["name"].get<std::string>().substr(0, 3), "E:\\");
  }
}

// A pass on a drive-table volume is recorded in config.ini as the window
// records it, so that the next analysis suggests what the window would; a
// volume named by a path outside the table leaves no history.
TEST_F(QdefragOnImages, PassesOnDriveTableVolumesAreRecordedForTheSuggestion) {
  std::ofstream(Home / "drives.ini") << "[drives]\nE=" << Image.string() << "\n";
  ToolResult before = Run({"analyze", "--json", "E:"});
  ASSERT_EQ(before.Exit, 0) << before.Err;
  EXPECT_EQ(before.Json()["volumes"][0]["suggestion"], "Defrag & Optimize");

  ToolResult pass = Run({"defrag", "--optimize", "--json", "E:"});
  ASSERT_EQ(pass.Exit, 0) << pass.Err;
  TSetting stored(Home / "config.ini", Home);
  stored.Load();
  int index = TSetting::DriveIndex('E');
  EXPECT_NE(stored.LastOptimizeTime[size_t(index)], 0);
  EXPECT_EQ(stored.LastDefragTime[size_t(index)], stored.LastOptimizeTime[size_t(index)]);

  // Optimised today and nothing left fragmented: nothing to suggest.
  ToolResult after = Run({"analyze", "--json", "E:"});
  ASSERT_EQ(after.Exit, 0) << after.Err;
  EXPECT_EQ(after.Json()["volumes"][0]["suggestion"], "Not need to defrag");

  // An image named by its path only, outside the table: no history.
  fs::path other = Folder.Path() / "other.img";
  fs::copy_file(Image, other);
  fs::remove(Home / "config.ini");
  ASSERT_EQ(Run({"defrag", "--optimize", other.string()}).Exit, 0);
  EXPECT_FALSE(fs::exists(Home / "config.ini"));
}

TEST_F(QdefragOnImages, UnusableTargetsAreRefusedWithTheReason) {
  fs::path zeros = Folder.Path() / "zeros.img";
  std::ofstream(zeros, std::ios::binary) << std::string(4 << 20, '\0');
  // An image another process holds locked is in use.
  int held = open(Image.c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);

  ToolResult result = Run({"defrag", "--json", zeros.string(),
                           (Folder.Path() / "absent.img").string(), Image.string(), "Y:"});
  close(held);
  EXPECT_EQ(result.Exit, 1);
  json volumes = result.Json()["volumes"];
  ASSERT_EQ(volumes.size(), 4u);
  for (const json& volume : volumes) {
    EXPECT_EQ(volume["outcome"], "refused") << volume["target"];
    EXPECT_FALSE(volume["error"].get<std::string>().empty()) << volume["target"];
  }
  ImageCheck check = Check(Image, false);
  EXPECT_EQ(check.Mismatching, 0);
}

TEST_F(QdefragOnImages, InterruptLeavesASoundVolume) {
  ToolProcess process(QDEFRAG_PATH, {"defrag", "--optimize", "--json", Image.string()},
                      Folder.Path(), Home);
  // Whenever the first progress line comes; the pass may well be running.
  process.WaitForError({"Analyzing", "Optimizing"}, kPatience);
  process.Signal(SIGINT);
  ToolResult result = process.Wait();
  // Interrupted, or done before the signal came.
  EXPECT_TRUE(result.Exit == 130 || result.Exit == 0) << result.Exit << result.Err;
  EXPECT_EQ(result.Json()["interrupted"].get<bool>(), result.Exit == 130);
  ImageCheck check = Check(Image, false);
  EXPECT_EQ(check.Fsck, 0) << check.Report;
  EXPECT_EQ(check.Mismatching, 0) << check.Report;
}

} // namespace
} // namespace quillo::test
