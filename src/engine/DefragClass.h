// SPDX-License-Identifier: GPL-2.0-or-later
// TDefrag: the per-volume engine. This class holds what both file systems
// share: construction, volume access (DefragClass.cpp), the analysis frame
// (DefragAnalysis.cpp) and the passes (DefragPass.cpp). TFatDefrag and
// TNtfsDefrag supply the walk and the way a file is opened.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/DefragDefine.h"
#include "engine/Tree.h"
#include "engine/UiDispatcher.h"
#include "engine/UserNotifier.h"
#include "engine/VolumeDevice.h"
#include "map/DefragMap.h"
#include "report/DefragReport.h"

namespace quillo {

// What an engine needs from its surroundings besides the volume. All three
// must outlive the engine.
struct EngineServices {
  Clock& SystemClock;
  UiDispatcher& Dispatcher;
  UserNotifier& Notifier;
};

using FileList = std::vector<std::unique_ptr<FILE_INFO>>;

// Wait times of the control calls.
constexpr uint32_t kPendingReadWaitMs = 300;
constexpr uint32_t kPendingMoveWaitMs = 200;
constexpr uint32_t kPauseWaitMs = 100;
constexpr uint32_t kThrottleWaitMs = 1;
// Moves go in requests of this many clusters, so that pause and stop take
// effect within one request.
constexpr uint32_t kMoveChunkClusters = 1024;

class TDefrag {
protected:
  // Declared first: the containers below are built with the notifier.
  EngineServices Services;
  std::shared_ptr<VolumeDevice> Volume;

public:
  // Raises "GetVolumeInfoError" or "OpenDiskError".
  TDefrag(const std::string& volumeName, std::shared_ptr<VolumeDevice> device,
          const EngineServices& services);
  virtual ~TDefrag();
  TDefrag(const TDefrag&) = delete;
  TDefrag& operator=(const TDefrag&) = delete;

  // The analysis pass of a mode: the walk is the file system's.
  virtual void Analyze(uint8_t mode) = 0;
  // Opens the file of a record for the control calls; kInvalidHandle on failure.
  virtual Handle OpenFile(FILE_INFO& file) = 0;

  // The pass that moves files (dmFast or dmOptimize).
  void Defrag(uint8_t mode);

  bool ReopenVolume();
  void ReleaseVolume();
  bool ReadVolumeInfo();
  // Purpose 0: count the bitmap on the map; dmFast: build FastFree;
  // dmOptimize: build FrontFree, MiddleFree and BackFree.
  bool ReadFreeSpace(uint8_t purpose);
  bool ReadExtents(FILE_INFO& file);
  bool MoveFileTo(FILE_INFO& file, uint32_t targetLcn);

  VolumeDevice& Device() { return *Volume; }

  // Shared with the UI thread: single atomic stores and loads.
  std::atomic<uint8_t> State{dsIdle};
  std::atomic<uint32_t> Throttled{0};
  std::atomic<int64_t> SizeLimit{0};
  // Written only while the job is parked.
  std::vector<std::string> ExcludeMasks;
  std::atomic<bool> ReleaseWhileIdle{false};

  std::unique_ptr<TDefragMap> Map;
  std::unique_ptr<TDefragReport> Report;

  uint32_t SectorsPerCluster = 0;
  uint32_t BytesPerSector = 0;
  uint32_t FreeClusters = 0;
  uint32_t TotalClusters = 0;
  int64_t FreeBytes = 0;
  int64_t TotalBytes = 0;
  std::string VolumeName; // "C:"
  Handle VolumeHandle = kInvalidHandle;

  CCTree FastFree;
  FileList FragmentedList;
  CCTree MiddleFree;
  FileList FrequentList;
  FileList RareList;
  FileList DirectoryList;
  uint32_t ZoneStart = 0;
  uint32_t ZoneEnd = 0;
  CCList FrontFree;
  CCList BackFree;

protected:
  Clock& SystemClock() { return Services.SystemClock; }
  // Sleeps in steps while the state holds the given paused value.
  void WaitWhilePaused(uint8_t pausedState);

private:
  void OpenVolumeHandle();
  void RecordFreeRun(uint8_t purpose, uint32_t start, uint32_t length);
  // The bitmap answer buffer: 80 KiB, kept off the job thread's stack.
  std::unique_ptr<VolumeBitmapBuffer> BitmapBuffer;
  std::unique_ptr<RetrievalPointersBuffer> RetrievalBuffer;
};

} // namespace quillo
