// SPDX-License-Identifier: GPL-2.0-or-later
// What the tool reports of one volume: the report window's figures and file
// list, and how the command ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/MapPicture.h"
#include "jobs/DefragThread.h"

namespace quillo {

enum class Outcome {
  Analyzed,     // the analysis completed
  Defragmented, // the pass completed
  Stopped,      // stopped by the user
  Failed,       // no job, or the job ended with an error
  Refused,      // the target cannot be used
  Dropped,      // the volume could not be opened for the command
};

const char* OutcomeName(Outcome outcome);

struct EntrySummary {
  std::string Name;
  uint32_t Fragments = 0;
  uint32_t Clusters = 0;
  uint64_t Bytes = 0; // the clusters' bytes on this volume
  uint8_t Status = 0;
  std::string Result;
  bool Directory = false;
};

struct VolumeSummary {
  std::string Target;
  std::string VolumeName;
  std::string FileSystem;
  Outcome Result = Outcome::Failed;
  std::string Error;
  // What the device told: repairs on opening, damage met, refused writes.
  std::vector<std::string> Notices;
  // Nothing below is known for a failed or refused target.
  bool HasFigures = false;
  uint8_t State = dsIdle;
  std::string StateText;
  VolumeFigures Figures;
  std::string StartTime; // time of day of the last pass, "" when none ran
  std::string EndTime;
  std::string Elapsed;
  int32_t Files = 0;
  int32_t Directories = 0;
  int32_t Fragmented = 0;
  int32_t Defragmented = 0;
  double FragmentationBefore = 0;
  std::optional<double> FragmentationAfter; // after a completed pass
  std::optional<std::string> Suggestion;    // unless a pass completed
  std::vector<EntrySummary> Entries;
  std::optional<MapPicture> Map;
  // Demo volumes only: "" when every file kept its content, else why not.
  std::optional<std::string> ContentProblem;
};

// The figures of a job that has parked (or died). Reads the map, so only
// on the thread that runs the hand-over.
// A volume never optimised, or one whose history is not kept.
inline constexpr int64_t kNeverOptimized = -1;

// `daysSinceOptimized` picks the suggestion: kNeverOptimized, or whole days.
void FillFromJob(VolumeSummary& summary, const TDefragThread& job, bool withMap,
                 int64_t daysSinceOptimized = kNeverOptimized);

void SortEntries(std::vector<EntrySummary>& entries, SortKey key);

} // namespace quillo
