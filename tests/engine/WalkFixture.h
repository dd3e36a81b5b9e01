// SPDX-License-Identifier: GPL-2.0-or-later
// The real engines (FAT and NTFS walks) over the in-memory volume, with the
// helpers the analysis, pass and walk tests share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "engine/DateTime.h"
#include "engine/FatDefrag.h"
#include "engine/MemoryVolume.h"
#include "engine/NtfsDefrag.h"

namespace quillo::test {

enum class FileSystem { Fat, Ntfs };

inline const char* FileSystemName(FileSystem fs) { return fs == FileSystem::Fat ? "FAT32" : "NTFS"; }

// Records what the map hands to the window.
class RecordingMapView final : public MapView {
public:
  void CellPainted(int, int) override { ++Cells; }
  void ProgressChanged(uint32_t value) override { Progress.push_back(value); }
  void CaptionChanged(const std::string& text) override { Captions.push_back(text); }
  size_t Cells = 0;
  std::vector<uint32_t> Progress;
  std::vector<std::string> Captions;
};

struct WalkWorld {
  explicit WalkWorld(FileSystem fs, MemoryVolume::Options options = {}) : Fs(fs) {
    options.FileSystemName = FileSystemName(fs);
    Volume = std::make_shared<MemoryVolume>(options);
    if (fs == FileSystem::Ntfs) {
      // The MFT's clusters are in use, as on a real volume, so that the
      // excluded count is the same on both file systems.
      Volume->Reserve(kMftStart, kMftClusters);
      Volume->SetNtfsLayout(kMftStart, kMftStart, kMftStart, kMftRecords * kRecordBytes);
    }
  }

  static constexpr uint32_t kMftStart = 0;
  static constexpr uint32_t kMftClusters = 16;
  static constexpr uint32_t kRecordBytes = 1024;
  static constexpr uint32_t kMftRecords = kMftClusters * 4096 / kRecordBytes;

  std::unique_ptr<TDefrag> MakeEngine() {
    EngineServices services{Time, Dispatcher, Notifier};
    std::unique_ptr<TDefrag> engine;
    if (Fs == FileSystem::Fat)
      engine = std::make_unique<TFatDefrag>("c:", Volume, services);
    else
      engine = std::make_unique<TNtfsDefrag>("c:", Volume, services);
    engine->Map->SetView(&View);
    return engine;
  }

  // A FILETIME so many days before the clock's local time, as stored.
  uint64_t DaysAgo(double days) { return DateTimeToFileTime(Time.Now() - days); }

  FileSystem Fs;
  std::shared_ptr<MemoryVolume> Volume;
  FakeClock Time;
  InlineDispatcher Dispatcher;
  RecordingNotifier Notifier;
  RecordingMapView View;
};

inline int64_t MapTotal(const TDefragMap& map, uint8_t category) {
  int64_t total = 0;
  for (int x = 0; x < map.Columns(); ++x)
    for (int y = 0; y < map.Rows(); ++y) total += map.Count(category, x, y);
  return total;
}

inline std::vector<std::string> Names(const FileList& list) {
  std::vector<std::string> names;
  for (const auto& file : list) names.push_back(file->Name);
  return names;
}

inline std::vector<std::string> EntryNames(const TDefragReport& report) {
  std::vector<std::string> names;
  for (const FILE_INFO& entry : report.Entries()) names.push_back(entry.Name);
  return names;
}

inline std::string FsTestName(FileSystem fs) { return fs == FileSystem::Fat ? "Fat" : "Ntfs"; }

} // namespace quillo::test
