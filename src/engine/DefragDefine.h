// SPDX-License-Identifier: GPL-2.0-or-later
// Engine records and the enumerations that travel with them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillo {

// The one byte that describes where a volume's job stands. Written by the UI
// thread and the job thread, polled by both.
enum DefragState : uint8_t {
  dsAnalyzing = 0,
  dsAnalyzePaused = 1,
  dsAnalyzed = 2,
  dsDefragging = 3,
  dsDefragPaused = 4,
  dsDefragged = 5,
  dsIdle = 6,
  dsStopping = 7,
};

inline bool IsAtRest(uint8_t state) {
  return state == dsAnalyzed || state == dsDefragged || state == dsIdle;
}
inline bool IsRunning(uint8_t state) { return state == dsAnalyzing || state == dsDefragging; }
inline bool IsPaused(uint8_t state) { return state == dsAnalyzePaused || state == dsDefragPaused; }

enum DefragMode : uint8_t {
  dmFast = 1,     // "Defrag Only"
  dmOptimize = 3, // "Defrag & Optimize"
};

enum JobCommand : uint8_t {
  jcManualDefrag = 0,
  jcAutoDefrag = 1,
  jcAnalyze = 3,
};

enum NotifyCode : uint8_t {
  ncNone = 0,
  ncAnalyzed = 1,
  ncDefragged = 2,
  ncAutoDefragged = 3,
};

enum FileStatus : uint8_t {
  fsNone = 0,
  fsAnalyzed = 1,
  fsDefragged = 2,
  fsNoSpace = 3,
  fsUnmovable = 4,
  // 5 is not used.
  fsTargetInUse = 6,
};

enum MapCategory : uint8_t {
  mcFree = 0,
  mcUsed = 1,
  mcMftZone = 2,
  mcFile = 3,
  mcDirectory = 4,
  mcFrequentFile = 5,
  mcFragmented = 6,
  mcMft = 7,
  mcTarget = 8,
};
constexpr int kMapCategoryCount = 9;

// One physically contiguous run of a file.
struct EXTENT_INFO {
  uint32_t Lcn = 0;
  uint32_t Length = 0;

  friend bool operator==(const EXTENT_INFO&, const EXTENT_INFO&) = default;
};

// The engine's record of one examined file or directory.
struct FILE_INFO {
  std::string Name;           // full path, "C:\dir\file" (UTF-8 on this platform)
  int64_t FileRef = 0;        // NTFS record number; unused on FAT
  std::u16string StreamName;  // NTFS: a named data stream of the record; empty: the file itself
  uint8_t Status = fsNone;    // FileStatus of the current run
  uint32_t VirtualClusters = 0; // clusters without a place on disk (sparse, compressed)
  uint32_t Clusters = 0;      // sum of Extents[].Length
  uint32_t ExtentCount = 0;   // number of Extents: the fragment count
  std::vector<EXTENT_INFO> Extents; // in VCN order, adjacent runs merged
  int64_t Size = 0;           // bytes; 0 for directories
  bool Recent = false;        // last written 2 to 33 days ago; false for directories
  bool DirFlag = false;
};

// The map category a file is painted in: fragmented first, then directory,
// then recently written, then ordinary.
inline MapCategory FileCategory(const FILE_INFO& file) {
  if (file.ExtentCount > 1) return mcFragmented;
  if (file.DirFlag) return mcDirectory;
  if (file.Recent) return mcFrequentFile;
  return mcFile;
}

// Failures of the program's own logic carry short fixed English texts
// ("OpenDiskError", "GetVolumeBitmap Error", ...). They are never translated.
class DefragError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Date-times count days since 30 December 1899; the fraction is the time of
// day in local time. 0 means never.
using TDateTime = double;

} // namespace quillo
