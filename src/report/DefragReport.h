// SPDX-License-Identifier: GPL-2.0-or-later
// The statistics and file entries of a volume's last analysis and pass.
// Written by the job thread; read by the UI thread while the job runs, so the
// counters are atomic and the entries and texts are handed out as snapshots
// taken under a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/Clock.h"
#include "engine/DefragDefine.h"

namespace quillo {

struct VolumeFigures {
  std::string VolumeName; // "C:"
  uint64_t TotalBytes = 0;
  uint64_t FreeBytes = 0;
  uint32_t TotalClusters = 0;
  uint32_t SectorsPerCluster = 0;
  uint32_t BytesPerSector = 0;
};

class TDefragReport {
public:
  explicit TDefragReport(Clock& clock);

  void SetVolumeFigures(const VolumeFigures& figures);
  VolumeFigures GetVolumeFigures() const;

  void Clear();
  void AddEntry(const FILE_INFO& file);
  void MarkStart();
  void MarkEnd();
  std::string RemainingTime() const;

  // A copy of the entries, safe to keep while the job goes on.
  std::vector<FILE_INFO> Entries() const;
  size_t EntryCount() const;

  TDateTime StartTime() const;
  TDateTime EndTime() const;
  std::string ElapsedText() const;

  // A run nobody attended skipped the volume: it could be opened only
  // after asking the user for authorisation. `why` is the full reason; an
  // empty one clears the note (a later command opened the volume).
  void NoteSkipped(const std::string& why);
  // The reason of the last skip; empty when the last command was not
  // skipped.
  std::string Skipped() const;

  std::atomic<uint32_t> ClustersToMove{0};
  std::atomic<uint32_t> ClustersMoved{0};
  std::atomic<int32_t> FileCount{0};
  std::atomic<int32_t> DirCount{0};
  std::atomic<int32_t> FragmentedDirCount{0};
  std::atomic<int32_t> FragmentedFileCount{0};
  std::atomic<int32_t> DefraggedDirCount{0};
  std::atomic<int32_t> DefraggedFileCount{0};

private:
  Clock& SystemClock;
  mutable std::mutex Lock;
  VolumeFigures Figures;
  std::vector<FILE_INFO> EntryList;
  // Name to position in EntryList, so that adding stays linear in the number
  // of entries. Kept in step with EntryList under Lock.
  std::unordered_map<std::string, size_t> EntryIndex;
  TDateTime Start = 0;
  TDateTime End = 0;
  std::string Elapsed = "00:00:00";
  std::string SkipReason;
};

} // namespace quillo
