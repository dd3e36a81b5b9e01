// SPDX-License-Identifier: GPL-2.0-or-later
// The report window over the reports of real analyses and passes of both
// engines on in-memory volumes.
#include <gtest/gtest.h>

#include <QLabel>

#include "ReportWindowFixture.h"
#include "engine/DateTime.h"
#include "engine/FatDefrag.h"
#include "engine/MemoryVolume.h"
#include "engine/NtfsDefrag.h"
#include "reportwindow/ReportFigures.h"

namespace quillo::test {
namespace {

enum class FileSystem { Fat, Ntfs };

constexpr uint32_t kRoot = MemoryVolume::kRootIndex;
constexpr uint32_t kTotalClusters = 1000;
constexpr uint32_t kMftClusters = 16;

// A volume with two fragmented files, of which only the smaller fits the
// one free run left.
struct RunWorld {
  explicit RunWorld(FileSystem fs) {
    MemoryVolume::Options options;
    options.TotalClusters = kTotalClusters;
    options.FileSystemName = fs == FileSystem::Fat ? "FAT32" : "NTFS";
    Volume = std::make_shared<MemoryVolume>(options);
    if (fs == FileSystem::Ntfs) {
      Volume->Reserve(0, kMftClusters);
      Volume->SetNtfsLayout(0, 0, 0, kMftClusters * 4096);
    }
    const uint64_t old = DateTimeToFileTime(Report.Time.Now() - 100);
    Volume->AddFile(kRoot, "letter.doc", {{800, 20}, {850, 20}}, 40 * 4096, old);
    Volume->AddFile(kRoot, "movie.avi", {{900, 30}, {950, 30}}, 60 * 4096, old);
    // Everything else is in use but clusters 100 to 149.
    for (uint32_t lcn = kMftClusters; lcn < kTotalClusters; ++lcn) {
      if ((lcn >= 100 && lcn < 150) || Volume->IsAllocated(lcn)) continue;
      Volume->Reserve(lcn, 1);
    }
    const EngineServices services{Report.Time, Dispatcher, Notifier};
    if (fs == FileSystem::Fat)
      Engine = std::make_unique<TFatDefrag>("c:", Volume, services);
    else
      Engine = std::make_unique<TNtfsDefrag>("c:", Volume, services);
  }

  // Opens the window on the engine's report in the engine's state.
  TReportContent& Open() {
    Report.Volumes = {{Engine->Report.get(), Engine->State.load()}};
    Report.Open();
    return Report.Page(0);
  }

  void ExpectRowsOfTheReport(const TReportContent& page) {
    const std::vector<FILE_INFO> entries = Engine->Report->Entries();
    ASSERT_EQ(page.ReportList->topLevelItemCount(), int(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      const QTreeWidgetItem* row = page.ReportList->topLevelItem(int(i));
      EXPECT_EQ(row->text(0).toStdString(), entries[i].Name);
      EXPECT_EQ(row->text(1).toStdString(), std::to_string(entries[i].ExtentCount));
      EXPECT_EQ(row->text(2).toStdString(), std::to_string(entries[i].Clusters));
      EXPECT_EQ(row->text(3), FormatSize(uint64_t(entries[i].Clusters) * 4));
      EXPECT_EQ(row->text(4).toStdString(), StatusTextFor(entries[i].Status)->Default);
    }
  }

  ReportWorld Report;
  std::shared_ptr<MemoryVolume> Volume;
  InlineDispatcher Dispatcher;
  RecordingNotifier Notifier;
  std::unique_ptr<TDefrag> Engine;
};

std::string StatusOf(const TReportContent& page, const std::string& name) {
  for (int i = 0; i < page.ReportList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = page.ReportList->topLevelItem(i);
    if (row->text(0).toStdString() == name) return row->text(4).toStdString();
  }
  return "(missing)";
}

class ReportOfARun : public ::testing::TestWithParam<FileSystem> {};

TEST_P(ReportOfARun, AnalysisListsTheFragmentedFilesAndSuggests) {
  RunWorld world(GetParam());
  world.Engine->Analyze(dmFast);
  ASSERT_EQ(world.Engine->State.load(), dsAnalyzed);
  TReportContent& page = world.Open();
  EXPECT_EQ(world.Report.Form->ReportPages->tabText(0).toStdString(), "C:");
  world.ExpectRowsOfTheReport(page);
  EXPECT_EQ(StatusOf(page, "C:\\letter.doc"), "Analyzed");
  EXPECT_EQ(StatusOf(page, "C:\\movie.avi"), "Analyzed");
  EXPECT_EQ(page.LabelClusters->text().toStdString(), "1000");
  EXPECT_EQ(page.LabelFragmentedFiles->text().toStdString(), "2");
  EXPECT_EQ(page.LabelDefragedFiles->text().toStdString(), "0");
  EXPECT_EQ(page.LabelTotalFilesDirs->text().toStdString(),
            std::to_string(world.Engine->Report->FileCount + world.Engine->Report->DirCount));
  // 100 of 1000 + 1 clusters: below ten percent, never optimised.
  EXPECT_EQ(page.FragmentionBContent->text().toStdString(), "9.99%");
  EXPECT_FALSE(page.FragmentionAContent->isVisible());
  EXPECT_TRUE(page.Label_Suggestion->isVisible());
  EXPECT_EQ(page.Label_Suggestion->text().toStdString(), "Defrag & Optimize");
  EXPECT_EQ(page.LabelStartTime->text().toStdString(), "00:00:00");
}

TEST_P(ReportOfARun, APassShowsWhatBecameOfEachFileAndTheFragmentationAfter) {
  RunWorld world(GetParam());
  world.Engine->Analyze(dmFast);
  world.Engine->State = dsDefragging;
  world.Engine->Defrag(dmFast);
  ASSERT_EQ(world.Engine->State.load(), dsDefragged);
  TReportContent& page = world.Open();
  world.ExpectRowsOfTheReport(page);
  EXPECT_EQ(StatusOf(page, "C:\\letter.doc"), "Defragged");
  EXPECT_EQ(StatusOf(page, "C:\\movie.avi"), "NoSpace");
  EXPECT_EQ(page.LabelFragmentedFiles->text().toStdString(), "2");
  EXPECT_EQ(page.LabelDefragedFiles->text().toStdString(), "1");
  EXPECT_EQ(page.FragmentionBContent->text().toStdString(), "9.99%");
  // Only the file left fragmented counts after the pass.
  EXPECT_EQ(page.FragmentionAContent->text().toStdString(), "5.99%");
  EXPECT_TRUE(page.FragmentionAContent->isVisible());
  EXPECT_FALSE(page.Label_Suggestion->isVisible());
  EXPECT_EQ(page.LabelStartTime->text(), TimeOfDayText(world.Engine->Report->StartTime()));
  EXPECT_EQ(page.LabelEndTime->text(), TimeOfDayText(world.Engine->Report->EndTime()));
  EXPECT_EQ(page.LabelEclipseTime->text().toStdString(), world.Engine->Report->ElapsedText());

  // The next analysis clears the report under the open window; the rows
  // stay as they were and still sort.
  world.Engine->Analyze(dmFast);
  ReportWorld::ClickColumn(page, 2);
  EXPECT_EQ(ReportWorld::Column(page, 0), (std::vector<std::string>{"C:\\movie.avi", "C:\\letter.doc"}));
  EXPECT_EQ(StatusOf(page, "C:\\letter.doc"), "Defragged");
}

INSTANTIATE_TEST_SUITE_P(BothFileSystems, ReportOfARun,
                         ::testing::Values(FileSystem::Fat, FileSystem::Ntfs),
                         [](const auto& info) {
                           return std::string(info.param == FileSystem::Fat ? "Fat" : "Ntfs");
                         });

} // namespace
} // namespace quillo::test
