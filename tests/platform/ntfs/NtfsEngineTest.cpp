// SPDX-License-Identifier: GPL-2.0-or-later
// The NTFS engine end to end on real images, in both modes: analysis, pass,
// and the volume afterwards as independent tools see it.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "NtfsTestImage.h"
#include "engine/NtfsDefrag.h"

namespace quillo::test {
namespace {

std::string WindowsName(const std::string& path) {
  std::string name = "C:" + path;
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

struct EngineRun {
  explicit EngineRun(const std::filesystem::path& image, const std::filesystem::path& journal) {
    std::string why;
    Volume = OpenVolume(image, journal, why);
    EXPECT_TRUE(Volume) << why;
    if (Volume)
      Engine = std::make_unique<TNtfsDefrag>("C:", Volume, EngineServices{Clock, Dispatcher, Notifier});
  }

  std::map<std::string, uint8_t> Statuses() const {
    std::map<std::string, uint8_t> statuses;
    for (const FILE_INFO& entry : Engine->Report->Entries()) statuses[entry.Name] = entry.Status;
    return statuses;
  }

  FakeClock Clock;
  InlineDispatcher Dispatcher;
  RecordingNotifier Notifier;
  std::shared_ptr<NtfsVolume> Volume;
  std::unique_ptr<TNtfsDefrag> Engine;
};

class NtfsEngineTest : public ::testing::TestWithParam<uint8_t> {
protected:
  void SetUp() override {
    Image = CopyFixtureImage(Dir.Path());
    Journal = Dir.Path() / "journal";
    Manifest = ReadManifest(FixtureDir());
  }

  TempDir Dir;
  std::filesystem::path Image;
  std::filesystem::path Journal;
  std::vector<ManifestEntry> Manifest;
};

TEST_P(NtfsEngineTest, AnalysisAndPassLeaveEveryFileWholeAndTheVolumeSound) {
  uint8_t mode = GetParam();
  std::string before = ImageDigest(Image);
  // Moving clusters changes no time of any file, in $STANDARD_INFORMATION or
  // in $FILE_NAME.
  std::map<std::string, std::string> timesBefore;
  for (const ManifestEntry& entry : Manifest)
    timesBefore[entry.Path] = RecordTimes(Image, RecordOf(Image, entry.Path));
  {
    EngineRun run(Image, Journal);
    ASSERT_TRUE(run.Engine);
    run.Engine->State = dsAnalyzing;
    run.Engine->Analyze(mode);
    EXPECT_EQ(run.Engine->State.load(), dsAnalyzed);
    // The analysis wrote nothing.
    EXPECT_EQ(ImageDigest(Image), before);

    // The report lists the fragmented files (the compressed file's units
    // follow one another: it is whole). A path longer than 260 characters
    // is reported under the failure name.
    std::set<std::string> expected;
    for (const ManifestEntry& entry : Manifest) {
      if (entry.Kind != "fragmented" && entry.Kind != "sparse") continue;
      expected.insert(entry.Path.size() + 2 > kFileNameCapacity ? "C://CANNOTGETREALPATH" : WindowsName(entry.Path));
    }
    std::set<std::string> analysed;
    for (const auto& [name, status] : run.Statuses()) {
      analysed.insert(name);
      EXPECT_EQ(status, fsAnalyzed) << name;
    }
    EXPECT_EQ(analysed, expected);
    // The report counts what libntfs-3g finds in use, read on its own.
    RecordCounts counts = CountRecords(Image);
    EXPECT_EQ(run.Engine->Report->FileCount.load(), counts.Files);
    EXPECT_EQ(run.Engine->Report->DirCount.load(), counts.Directories);
    EXPECT_GE(counts.Files, int32_t(Manifest.size()));
    int32_t fragmentedFiles = run.Engine->Report->FragmentedFileCount.load();
    EXPECT_EQ(fragmentedFiles, 8);

    run.Engine->State = dsDefragging;
    run.Engine->Defrag(mode);
    EXPECT_EQ(run.Engine->State.load(), dsDefragged);
    for (const auto& [name, status] : run.Statuses()) EXPECT_EQ(status, fsDefragged) << name;
    EXPECT_EQ(run.Engine->Report->DefraggedFileCount.load(), fragmentedFiles);
    EXPECT_EQ(run.Engine->Report->ClustersMoved.load(), run.Engine->Report->ClustersToMove.load());
  }
  EXPECT_EQ(CompareWithManifest(Image, Manifest), "");
  EXPECT_EQ(CompareWithNtfscat(Image, Manifest), "");
  EXPECT_EQ(CheckWithNtfsResize(Image), "");
  CommandResult info = RunCommand({"fsntfsinfo", Image.string()});
  EXPECT_EQ(info.ExitCode, 0) << info.Output;
  EXPECT_NE(info.Output.find("QUILLO"), std::string::npos) << info.Output;
  for (const ManifestEntry& entry : Manifest) {
    if (entry.Kind == "empty" || entry.Kind == "resident") continue;
    EXPECT_EQ(TskFragments(TskRuns(Image, RecordOf(Image, entry.Path))), 1) << entry.Path;
  }
  EXPECT_EQ(VolumeFlags(Image) & 1, 0);
  EXPECT_TRUE(MirrorMatchesMft(Image));
  for (const ManifestEntry& entry : Manifest) {
    EXPECT_FALSE(timesBefore[entry.Path].empty()) << entry.Path;
    EXPECT_EQ(RecordTimes(Image, RecordOf(Image, entry.Path)), timesBefore[entry.Path]) << entry.Path;
  }

  // A second analysis finds nothing fragmented that it could move.
  EngineRun again(Image, Journal);
  ASSERT_TRUE(again.Engine);
  again.Engine->State = dsAnalyzing;
  again.Engine->Analyze(dmFast);
  for (const FILE_INFO& entry : again.Engine->Report->Entries())
    EXPECT_LT(entry.FileRef, 24) << entry.Name << " is still fragmented";
}

// Named data streams are analysed, reported as "C:\file:stream" and joined
// like a file's own data; they are not counted as files, and a stream kept
// inside its record is left as it is. The change journal's stream $J is
// reported, and never moved.
TEST_P(NtfsEngineTest, NamedStreamsAreReportedAndJoined) {
  uint8_t mode = GetParam();
  std::filesystem::path image = CopyFixtureImage(Dir.Path(), kStreamsImageName);
  std::vector<ManifestEntry> manifest = ReadManifest(FixtureDir(), kStreamsManifestName);
  std::set<std::string> expected;
  std::map<std::string, std::vector<TskRun>> systemRuns;
  for (const ManifestEntry& entry : manifest) {
    if (entry.Kind == "fragmented" || entry.Kind == "system")
      expected.insert(WindowsName(entry.Shown()));
    if (entry.Kind == "system")
      systemRuns[entry.Shown()] = TskRuns(image, RecordOf(image, entry.Path), entry.Stream);
  }
  ASSERT_EQ(expected.size(), 4u);
  ASSERT_EQ(systemRuns.size(), 1u);
  ASSERT_GT(TskFragments(systemRuns.begin()->second), 1);
  {
    EngineRun run(image, Journal);
    ASSERT_TRUE(run.Engine);
    run.Engine->State = dsAnalyzing;
    run.Engine->Analyze(mode);
    std::set<std::string> analysed;
    for (const auto& [name, status] : run.Statuses()) analysed.insert(name);
    EXPECT_EQ(analysed, expected);
    RecordCounts counts = CountRecords(image);
    EXPECT_EQ(run.Engine->Report->FileCount.load(), counts.Files);
    EXPECT_EQ(run.Engine->Report->DirCount.load(), counts.Directories);

    run.Engine->State = dsDefragging;
    run.Engine->Defrag(mode);
    EXPECT_EQ(run.Engine->State.load(), dsDefragged);
    for (const auto& [name, status] : run.Statuses()) {
      bool journal = name.find("$UsnJrnl") != std::string::npos;
      EXPECT_EQ(status, journal ? fsUnmovable : fsDefragged) << name;
    }
    EXPECT_EQ(run.Engine->Report->DefraggedFileCount.load(), 3);
  }
  for (const auto& [shown, runs] : systemRuns) {
    const ManifestEntry& entry =
        *std::find_if(manifest.begin(), manifest.end(), [&](const auto& e) { return e.Shown() == shown; });
    std::vector<TskRun> after = TskRuns(image, RecordOf(image, entry.Path), entry.Stream);
    ASSERT_EQ(after.size(), runs.size()) << shown;
    for (size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(after[i].Lcn, runs[i].Lcn) << shown;
  }
  EXPECT_EQ(CompareWithManifest(image, manifest), "");
  EXPECT_EQ(CompareWithNtfscat(image, manifest), "");
  EXPECT_EQ(CheckWithNtfsResize(image), "");
  EXPECT_EQ(VolumeFlags(image) & 1, 0);
  for (const ManifestEntry& entry : manifest) {
    if (entry.Kind != "fragmented" && entry.Kind != "contiguous") continue;
    std::vector<TskRun> runs = TskRuns(image, RecordOf(image, entry.Path), entry.Stream);
    EXPECT_FALSE(runs.empty()) << entry.Shown();
    EXPECT_EQ(TskFragments(runs), 1) << entry.Shown();
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, NtfsEngineTest, ::testing::Values(uint8_t(dmFast), uint8_t(dmOptimize)),
                         [](const auto& info) { return std::string(info.param == dmFast ? "Fast" : "Optimize"); });

} // namespace
} // namespace quillo::test
