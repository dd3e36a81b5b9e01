// SPDX-License-Identifier: GPL-2.0-or-later
#include "report/DefragReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "engine/DefragDefine.h"

namespace quillo {
namespace {

using test::FakeClock;

constexpr double kSecondsPerDay = 86400.0;
constexpr TDateTime kPassStart = 46000.25; // 06:00 of some day

FILE_INFO MakeEntry(const std::string& name, uint8_t status, bool dir = false,
                    std::vector<EXTENT_INFO> extents = {{100, 5}, {300, 7}}) {
  FILE_INFO file;
  file.Name = name;
  file.Status = status;
  file.DirFlag = dir;
  file.ExtentCount = uint32_t(extents.size());
  for (const auto& e : extents)
    file.Clusters += e.Length;
  file.Extents = std::move(extents);
  return file;
}

struct Counters {
  int32_t FragmentedDir, FragmentedFile, DefraggedDir, DefraggedFile;
  bool operator==(const Counters&) const = default;
};

Counters CountersOf(const TDefragReport& report) {
  return {report.FragmentedDirCount.load(), report.FragmentedFileCount.load(),
          report.DefraggedDirCount.load(), report.DefraggedFileCount.load()};
}

void PrintTo(const Counters& c, std::ostream* os) {
  *os << "{fragDir " << c.FragmentedDir << ", fragFile " << c.FragmentedFile << ", defragDir "
      << c.DefraggedDir << ", defragFile " << c.DefraggedFile << "}";
}

TEST(TDefragReportTest, ANewReportIsEmpty) {
  FakeClock clock;
  TDefragReport report(clock);
  EXPECT_EQ(report.ElapsedText(), "00:00:00");
  EXPECT_EQ(report.StartTime(), 0.0);
  EXPECT_EQ(report.EndTime(), 0.0);
  EXPECT_EQ(report.EntryCount(), 0u);
  EXPECT_EQ(CountersOf(report), (Counters{0, 0, 0, 0}));
  EXPECT_EQ(report.FileCount.load(), 0);
  EXPECT_EQ(report.DirCount.load(), 0);
  EXPECT_EQ(report.ClustersToMove.load(), 0u);
  EXPECT_EQ(report.ClustersMoved.load(), 0u);
  EXPECT_EQ(report.GetVolumeFigures().TotalBytes, 0u);
  EXPECT_EQ(report.GetVolumeFigures().VolumeName, "");
}

TEST(TDefragReportTest, AddEntryCountsByOutcomeAndKind) {
  struct Case {
    uint8_t Status;
    bool Dir;
    Counters Expected;
  };
  const Case cases[] = {
      {fsAnalyzed, true, {1, 0, 0, 0}},  {fsAnalyzed, false, {0, 1, 0, 0}},
      {fsDefragged, true, {0, 0, 1, 0}}, {fsDefragged, false, {0, 0, 0, 1}},
      {fsNoSpace, false, {0, 0, 0, 0}},  {fsUnmovable, true, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("status " + std::to_string(c.Status) + (c.Dir ? " dir" : " file"));
    FakeClock clock;
    TDefragReport report(clock);
    report.AddEntry(MakeEntry("C:\\x", c.Status, c.Dir));
    EXPECT_EQ(CountersOf(report), c.Expected);
    ASSERT_EQ(report.EntryCount(), 1u);
    EXPECT_EQ(report.Entries()[0].Status, c.Status);
  }

  // The report window's fragmented figure is the sum of both kinds.
  FakeClock clock;
  TDefragReport report(clock);
  report.AddEntry(MakeEntry("C:\\dir", fsAnalyzed, true));
  report.AddEntry(MakeEntry("C:\\file", fsAnalyzed, false));
  report.AddEntry(MakeEntry("C:\\other", fsAnalyzed, false));
  EXPECT_EQ(report.FragmentedDirCount + report.FragmentedFileCount, 3);
}

TEST(TDefragReportTest, ADefragmentedEntryKeepsItsOutcomeOthersShowTheLatest) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Statuses;
    uint8_t Final;
    Counters Expected;
  };
  const Case cases[] = {
      {"analysed, defragged, unmovable",
       {fsAnalyzed, fsDefragged, fsUnmovable},
       fsDefragged,
       {0, 1, 0, 1}},
      {"no space, then unmovable", {fsNoSpace, fsUnmovable}, fsUnmovable, {0, 0, 0, 0}},
      {"analysed, then no space", {fsAnalyzed, fsNoSpace}, fsNoSpace, {0, 1, 0, 0}},
      {"defragged, then analysed again", {fsDefragged, fsAnalyzed}, fsDefragged, {0, 1, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeClock clock;
    TDefragReport report(clock);
    for (uint8_t status : c.Statuses)
      report.AddEntry(MakeEntry("C:\\data\\big.bin", status));
    auto entries = report.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Status, c.Final);
    EXPECT_EQ(CountersOf(report), c.Expected);
  }

  // An overwrite copies the whole record; names match byte for byte.
  FakeClock clock;
  TDefragReport report(clock);
  report.AddEntry(MakeEntry("C:\\a", fsAnalyzed, false, {{1, 1}, {5, 1}, {9, 1}}));
  report.AddEntry(MakeEntry("C:\\A", fsAnalyzed));
  report.AddEntry(MakeEntry("C:\\a", fsUnmovable, false, {{40, 2}, {50, 2}}));
  auto entries = report.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "C:\\a");
  EXPECT_EQ(entries[0].Status, fsUnmovable);
  EXPECT_EQ(entries[0].ExtentCount, 2u);
  EXPECT_EQ(entries[0].Extents, (std::vector<EXTENT_INFO>{{40, 2}, {50, 2}}));
  EXPECT_EQ(entries[1].Name, "C:\\A");
}

TEST(TDefragReportTest, MarkEndShowsTheElapsedTimeOfDay) {
  struct Case {
    double Seconds;
    const char* Text;
  };
  const Case cases[] = {
      {187, "00:03:07"},
      {0, "00:00:00"},
      {3600 + 5 * 60 + 9, "01:05:09"},
      {25 * 3600 + 5 * 60 + 9, "01:05:09"}, // only the fraction of a day
      {23 * 3600 + 59 * 60 + 59, "23:59:59"},
      {59.9996, "00:01:00"}, // to the nearest millisecond first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    FakeClock clock(kPassStart);
    TDefragReport report(clock);
    report.MarkStart();
    TDateTime end = kPassStart + c.Seconds / kSecondsPerDay;
    clock.Set(end);
    report.MarkEnd();
    EXPECT_EQ(report.StartTime(), kPassStart);
    EXPECT_EQ(report.EndTime(), end);
    EXPECT_EQ(report.ElapsedText(), c.Text);
  }
}

TEST(TDefragReportTest, RemainingTimeAssumesTheAverageSpeedSoFar) {
  struct Case {
    uint32_t ToMove;
    uint32_t Moved;
    double ElapsedSeconds;
    const char* Text;
  };
  const Case cases[] = {
      {1000, 250, 60, "0:2:59"},                // 60 * 750 / 251 = 179.28 s
      {1000, 0, 10, "2:46:40"},                 // nothing moved yet: elapsed * clusters
      {61, 0, 3600, "1:0:0"},                   // 61 hours: the hour figure wraps at 60
      {100, 100, 60, "0:0:0"},                  // done
      {100, 150, 60, "0:0:0"},                  // more moved than queued
      {UINT32_MAX, UINT32_MAX - 1, 1, "0:0:0"}, // 1 / 2^32 s
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    FakeClock clock(kPassStart);
    TDefragReport report(clock);
    report.MarkStart();
    report.ClustersToMove = c.ToMove;
    report.ClustersMoved = c.Moved;
    clock.Set(kPassStart + c.ElapsedSeconds / kSecondsPerDay);
    EXPECT_EQ(report.RemainingTime(), c.Text);
  }
}

TEST(TDefragReportTest, ClearEmptiesEntriesAndCountersButKeepsTimesAndFigures) {
  FakeClock clock(kPassStart);
  TDefragReport report(clock);
  VolumeFigures figures{"C:", 8000000, 2000000, 1953, 8, 512};
  report.SetVolumeFigures(figures);
  report.MarkStart();
  clock.Set(kPassStart + 187 / kSecondsPerDay);
  report.MarkEnd();
  report.ClustersToMove = 500;
  report.ClustersMoved = 120;
  report.FileCount = 40;
  report.DirCount = 4;
  report.AddEntry(MakeEntry("C:\\a", fsAnalyzed));
  report.AddEntry(MakeEntry("C:\\d", fsDefragged, true));

  report.Clear();

  EXPECT_EQ(report.EntryCount(), 0u);
  EXPECT_EQ(CountersOf(report), (Counters{0, 0, 0, 0}));
  EXPECT_EQ(report.FileCount.load(), 0);
  EXPECT_EQ(report.DirCount.load(), 0);
  EXPECT_EQ(report.StartTime(), kPassStart);
  EXPECT_EQ(report.EndTime(), kPassStart + 187 / kSecondsPerDay);
  EXPECT_EQ(report.ElapsedText(), "00:03:07");
  EXPECT_EQ(report.ClustersToMove.load(), 500u);
  EXPECT_EQ(report.ClustersMoved.load(), 120u);
  VolumeFigures kept = report.GetVolumeFigures();
  EXPECT_EQ(kept.VolumeName, "C:");
  EXPECT_EQ(kept.TotalBytes, 8000000u);
  EXPECT_EQ(kept.FreeBytes, 2000000u);
  EXPECT_EQ(kept.TotalClusters, 1953u);
  EXPECT_EQ(kept.SectorsPerCluster, 8u);
  EXPECT_EQ(kept.BytesPerSector, 512u);

  // A new analysis starts counting again from zero.
  report.AddEntry(MakeEntry("C:\\a", fsAnalyzed));
  EXPECT_EQ(CountersOf(report), (Counters{0, 1, 0, 0}));
}

// The list as it was first written: a linear search by name.
class NaiveEntryList {
public:
  void Add(const FILE_INFO& file) {
    if (file.Status == fsAnalyzed) ++(file.DirFlag ? Count.FragmentedDir : Count.FragmentedFile);
    if (file.Status == fsDefragged) ++(file.DirFlag ? Count.DefraggedDir : Count.DefraggedFile);
    auto it = std::find_if(List.begin(), List.end(),
                           [&](const FILE_INFO& e) { return e.Name == file.Name; });
    if (it == List.end())
      List.push_back(file);
    else if (it->Status != fsDefragged)
      *it = file;
  }
  void Clear() {
    List.clear();
    Count = {0, 0, 0, 0};
  }
  std::vector<FILE_INFO> List;
  Counters Count{0, 0, 0, 0};
};

TEST(TDefragReportTest, ManyDistinctAndRepeatedNamesBehaveAsALinearSearch) {
  constexpr int kRounds = 3;
  constexpr int kAddsPerRound = 3000;
  constexpr uint32_t kSeed = 20240607;
  const uint8_t statuses[] = {fsAnalyzed, fsDefragged, fsNoSpace, fsUnmovable};
  // Names that differ only in case, length or an embedded zero byte are
  // all different names.
  const std::string stems[] = {"C:\\dir\\f", "C:\\DIR\\f", "C:\\dir\\F", "C:\\dir\\f.",
                               std::string("C:\\dir\\f\0x", 10)};
  std::mt19937 random(kSeed);
  FakeClock clock;
  TDefragReport report(clock);
  NaiveEntryList reference;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    report.Clear();
    reference.Clear();
    // Rounds alternate between mostly repeated and mostly distinct names.
    uint32_t nameRange = round % 2 == 0 ? 400 : 50000;
    for (int i = 0; i < kAddsPerRound; ++i) {
      std::string name = stems[random() % std::size(stems)] +
                         std::to_string(random() % nameRange);
      std::vector<EXTENT_INFO> extents(random() % 4 + 1, EXTENT_INFO{uint32_t(i), 1});
      FILE_INFO file = MakeEntry(name, statuses[random() % std::size(statuses)],
                                 random() % 5 == 0, extents);
      report.AddEntry(file);
      reference.Add(file);
    }
    std::vector<FILE_INFO> entries = report.Entries();
    ASSERT_EQ(entries.size(), reference.List.size());
    for (size_t k = 0; k < entries.size(); ++k) {
      SCOPED_TRACE("entry " + std::to_string(k));
      EXPECT_EQ(entries[k].Name, reference.List[k].Name);
      EXPECT_EQ(entries[k].Status, reference.List[k].Status);
      EXPECT_EQ(entries[k].DirFlag, reference.List[k].DirFlag);
      EXPECT_EQ(entries[k].Extents, reference.List[k].Extents);
      EXPECT_EQ(entries[k].ExtentCount, reference.List[k].ExtentCount);
    }
    EXPECT_EQ(CountersOf(report), reference.Count);
  }
}

TEST(TDefragReportTest, ReadersGetWholeSnapshotsWhileTheJobWrites) {
  constexpr int kRounds = 4;
  constexpr int kEntriesPerRound = 300;
  FakeClock clock;
  TDefragReport report(clock);
  std::atomic<bool> done{false};

  std::thread job([&] {
    for (int round = 0; round < kRounds; ++round) {
      report.Clear();
      for (int i = 0; i < kEntriesPerRound; ++i) {
        std::vector<EXTENT_INFO> extents(size_t(i % 7 + 2), EXTENT_INFO{uint32_t(i), 1});
        report.AddEntry(MakeEntry("C:\\f" + std::to_string(i), fsAnalyzed, false, extents));
        report.AddEntry(MakeEntry("C:\\f" + std::to_string(i / 2), fsDefragged));
      }
    }
    done = true;
  });

  size_t snapshots = 0;
  size_t broken = 0;
  while (!done || snapshots == 0) {
    std::vector<FILE_INFO> entries = report.Entries();
    ++snapshots;
    if (entries.size() > size_t(kEntriesPerRound)) ++broken;
    for (const FILE_INFO& e : entries)
      if (e.ExtentCount != e.Extents.size() || e.Name.rfind("C:\\f", 0) != 0) ++broken;
  }
  job.join();
  EXPECT_EQ(broken, 0u);
  EXPECT_EQ(report.EntryCount(), size_t(kEntriesPerRound));
  EXPECT_EQ(report.DefraggedFileCount.load(), kEntriesPerRound);
}

} // namespace
} // namespace quillo
