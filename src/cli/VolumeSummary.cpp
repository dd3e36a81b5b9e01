// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/VolumeSummary.h"

#include <algorithm>
#include <cctype>

#include "cli/StatusText.h"

namespace quillo {

namespace {

constexpr double kPercent = 100.0;

std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return folded;
}

} // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
  case Outcome::Analyzed:
    return "analyzed";
  case Outcome::Defragmented:
    return "defragmented";
  case Outcome::Stopped:
    return "stopped";
  case Outcome::Failed:
    return "failed";
  case Outcome::Refused:
    return "refused";
  case Outcome::Dropped:
    return "dropped";
  }
  return "failed";
}

void FillFromJob(VolumeSummary& summary, const TDefragThread& job, bool withMap,
                 int64_t daysSinceOptimized) {
  const TDefrag& engine = job.Engine();
  const TDefragReport& report = *engine.Report;
  summary.HasFigures = true;
  summary.State = job.State();
  summary.StateText =
      JobStatusText(summary.State, job.Command(), job.Mode(), engine.Map->GetProgressBar());
  // The job's state may read "Defragged" although the device refused or
  // failed the writes: the outcome says what happened.
  if (summary.Result == Outcome::Refused) summary.StateText = "Refused";
  if (summary.Result == Outcome::Failed) summary.StateText = "Failed";
  summary.Figures = report.GetVolumeFigures();
  if (report.StartTime() != 0) summary.StartTime = TimeOfDayText(report.StartTime());
  if (report.EndTime() != 0) summary.EndTime = TimeOfDayText(report.EndTime());
  summary.Elapsed = report.ElapsedText();
  summary.Files = report.FileCount.load();
  summary.Directories = report.DirCount.load();
  summary.Fragmented = report.FragmentedFileCount.load() + report.FragmentedDirCount.load();
  summary.Defragmented = report.DefraggedFileCount.load() + report.DefraggedDirCount.load();

  uint64_t bytesPerCluster =
      uint64_t(summary.Figures.SectorsPerCluster) * summary.Figures.BytesPerSector;
  uint64_t all = 0;
  uint64_t notDone = 0;
  for (const FILE_INFO& file : report.Entries()) {
    EntrySummary entry;
    entry.Name = file.Name;
    entry.Fragments = file.ExtentCount;
    entry.Clusters = file.Clusters;
    entry.Bytes = uint64_t(file.Clusters) * bytesPerCluster;
    entry.Status = file.Status;
    entry.Result = FileResultText(file.Status);
    entry.Directory = file.DirFlag;
    summary.Entries.push_back(entry);
    all += file.Clusters;
    if (file.Status != fsDefragged) notDone += file.Clusters;
  }
  // Shares of the volume's clusters, as the report window computes them.
  uint64_t clusters = uint64_t(summary.Figures.TotalClusters) + 1;
  summary.FragmentationBefore = double(all) * kPercent / double(clusters);
  if (summary.State == dsDefragged && summary.Result == Outcome::Defragmented) {
    summary.FragmentationAfter = double(notDone) * kPercent / double(clusters);
  } else {
    summary.Suggestion = SuggestionText(all * uint64_t(kPercent) / clusters, daysSinceOptimized);
  }
  if (withMap) {
    // The job has ended: what it drew last is applied here, on the thread
    // that owns the picture.
    engine.Map->ApplyPendingChanges();
    summary.Map = MapPicture::Capture(*engine.Map);
  }
}

void SortEntries(std::vector<EntrySummary>& entries, SortKey key) {
  auto by = [&](auto less) { std::stable_sort(entries.begin(), entries.end(), less); };
  switch (key) {
  case SortKey::None:
    break;
  case SortKey::Name:
    by([](const EntrySummary& a, const EntrySummary& b) {
      return Folded(a.Name) < Folded(b.Name);
    });
    break;
  case SortKey::Fragments:
    by([](const EntrySummary& a, const EntrySummary& b) { return a.Fragments > b.Fragments; });
    break;
  case SortKey::Clusters:
    by([](const EntrySummary& a, const EntrySummary& b) { return a.Clusters > b.Clusters; });
    break;
  case SortKey::Result:
    by([](const EntrySummary& a, const EntrySummary& b) {
      return Folded(a.Result) < Folded(b.Result);
    });
    break;
  }
}

} // namespace quillo
