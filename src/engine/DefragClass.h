// SPDX-License-Identifier: GPL-2.0-or-later
// TDefrag: the per-volume engine. This class holds what both file systems
// share: construction, volume access (DefragClass.cpp), the analysis frame
// and the zone plan (DefragAnalysis.cpp) and the passes (DefragPass.cpp).
// TFatDefrag and TNtfsDefrag supply the walk and the way a file is opened.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/DefragDefine.h"
#include "engine/FileMask.h"
#include "engine/Tree.h"
#include "engine/UiDispatcher.h"
#include "engine/UserNotifier.h"
#include "engine/VolumeDevice.h"
#include "map/DefragMap.h"
#include "report/DefragReport.h"

namespace quillo {

// What an engine needs from its surroundings besides the volume. The three
// references must outlive the engine. A front end whose dispatcher crosses
// threads has the map's changes coalesced, so that the job never waits for
// it per file or per cell.
struct EngineServices {
  Clock& SystemClock;
  UiDispatcher& Dispatcher;
  UserNotifier& Notifier;
  TDefragMap::DrawHandOver MapHandOver = TDefragMap::DrawHandOver::PerCell;
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
// Caption and progress follow the walk every this many steps of its counter.
constexpr uint32_t kCaptionInterval = 400;
// A throttled analysis sleeps whenever the walk counter is a multiple of this.
constexpr uint32_t kThrottleInterval = 4;
// The pass rebuilds its free-space structures after every this many files.
constexpr uint32_t kFreeSpaceRebuildInterval = 30;

class TDefrag {
protected:
  // Declared first: the containers below are built with the notifier.
  EngineServices Services;
  std::shared_ptr<VolumeDevice> Volume;

public:
  // Raises "GetVolumeInfoError" or "OpenDiskError", except for a volume that
  // only the user's authorisation would open (the device says so): that
  // engine starts unopened, its map empty and its figures unknown, and
  // reads them at its first opening (ReopenVolume).
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
  // No opening has served the engine yet: it waits for the user's
  // authorisation, which a command that may prompt asks for.
  bool Unopened() const { return AwaitingFirstOpening.load(); }
  void ReleaseVolume();
  bool ReadVolumeInfo();
  // Purpose 0: count the bitmap on the map; dmFast: build FastFree;
  // dmOptimize: build FrontFree, MiddleFree and BackFree. Within a pass the
  // structures are changed only where the bitmap or the pass's own takings
  // changed since the last reading, with the same result as building them
  // afresh (FreeSpaceUpdate.cpp).
  bool ReadFreeSpace(uint8_t purpose);
  // Every reading builds the structures afresh: the reference the piecewise
  // update is tested against.
  bool WholeFreeSpaceReads = false;
  bool ReadExtents(FILE_INFO& file);
  bool MoveFileTo(FILE_INFO& file, uint32_t targetLcn);
  // Status, DirFlag, and for files Size and Recent; false when the entry
  // cannot be opened or its information or time cannot be read.
  bool ReadFileInfo(FILE_INFO& file);
  // ZoneStart and ZoneEnd from the lists of an optimise analysis.
  void ComputeZones();

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
  // Middle of the zone, the point an optimise pass draws rare files towards.
  uint32_t ZoneMiddle = 0;
  CCList FrontFree;
  CCList BackFree;

protected:
  Clock& SystemClock() { return Services.SystemClock; }
  // Sleeps in steps while the state holds the given paused value.
  void WaitWhilePaused(uint8_t pausedState);

  // --- The analysis frame both walks share (DefragAnalysis.cpp) ---
  // Map and report cleared, lists freed, geometry and bitmap read. Raises
  // "GetVolumeInfo Error" or "GetVolumeBitmap Error".
  void BeginAnalysis();
  // Examines the entry held in `record` (its identity already set by the
  // walk) with walk counter `counter`. A kept record is replaced by a fresh
  // one. Returns false when a stop was requested: the record is freed, the
  // map reset, and the walk must return at once.
  bool ExamineEntry(std::unique_ptr<FILE_INFO>& record, uint8_t mode, uint32_t counter);
  // Zones (optimise), final map refresh, caption, and State 2.
  void FinishAnalysis(uint8_t mode);

  // What the entry steps ask of the walk. The defaults suit a walk that
  // names every entry itself and has no progress of its own.
  // Before the entry's information is read.
  virtual void BeforeFileInfo(uint32_t counter);
  // Fills Name when the walk left it unset (masks, caption, listing).
  virtual void NameNeeded(FILE_INFO& file);
  // The walk's percentage for the caption steps.
  virtual uint32_t WalkPercentage(uint32_t counter);
  // With the entry still open after its information was read.
  virtual void AfterFileInfo(Handle handle, const FILE_INFO& file);

  // Stores a final state unless a stop was requested meanwhile.
  void SetStateUnlessStopping(uint8_t state);

private:
  // How a pass found the target of a file, so that it takes the clusters
  // out of the same structure the same way.
  enum class TargetWay : uint8_t {
    None = 0,
    FastBestFit = 1,   // FastFree, smallest fitting extent
    MiddleBestFit = 2, // MiddleFree, smallest fitting extent
    FrontFirstFit = 3, // FrontFree, lowest fitting extent, its start
    BackFirstFit = 4,  // BackFree, lowest fitting extent, its start
    FrontLastFit = 5,  // FrontFree, highest fitting extent, its end
  };
  struct PassTarget {
    TargetWay Way = TargetWay::None;
    FREE_NODE* Node = nullptr;
    uint32_t Lcn = 0;
  };
  bool TryWay(TargetWay way, uint32_t clusters, PassTarget& target);
  bool ChooseTarget(uint8_t mode, const FILE_INFO& file, PassTarget& target);
  void TakeTargetClusters(const PassTarget& target, uint32_t clusters);
  void BuildWorkList(uint8_t mode, FileList& work);
  // Steps 4 to 14 of one file; false when the free-space rebuild is skipped.
  bool ProcessFile(FILE_INFO& file, const PassTarget& target, uint32_t& processed);
  void ShowPassProgress(uint32_t processed);

  // The exclusion masks, compiled once per analysis.
  std::vector<FileMask> ActiveMasks;

  void OpenVolumeHandle();
  // The map drawn for the volume's size, once that size is known.
  void DrawEmptyMap();
  // Read by the UI thread; written by the job thread at the first opening.
  std::atomic<bool> AwaitingFirstOpening{false};
  void RecordFreeRun(uint8_t purpose, uint32_t start, uint32_t length);

  // --- Free space of the pass (FreeSpaceUpdate.cpp) ---
  // The bitmap as last read for the structures of Purpose (0: none), in
  // whole words, and the zone it was split by.
  struct PassBitmap {
    std::vector<uint8_t> Bits;
    uint64_t End = 0;
    uint8_t Purpose = 0;
    uint32_t ZoneStart = 0;
    uint32_t ZoneEnd = 0;
  };
  PassBitmap LastBitmap;
  // The extents the pass took clusters from since that reading, whole.
  std::vector<ClusterSpan> TakenSince;
  // The streaming reading the map's count uses.
  bool ReadFreeSpaceByAnswers(uint8_t purpose);
  // One answer of the bitmap from `start` into BitmapBuffer, a pending one
  // waited for; false on an error or an answer that starts past `start`.
  bool AskBitmap(int64_t start, NtStatus& status);
  // The whole bitmap; false on an error, the bits read until then kept (up
  // to `end`). `fits` is false when it has more clusters than an LCN holds.
  bool FetchBitmap(std::vector<uint8_t>& bits, uint64_t& end, bool& fits);
  void ClearFreeSpace(uint8_t purpose);
  // The free runs in LCN order; with closedOnly, not a run the end of the
  // bits cuts short.
  void FillFreeSpace(uint8_t purpose, const std::vector<uint8_t>& bits, uint64_t end, bool closedOnly);
  void UpdateFreeSpace(uint8_t purpose, const std::vector<uint8_t>& bits, uint64_t end);
  // Grows a range until no free run of `bits` and no extent held for the
  // purpose crosses its ends.
  ClusterSpan CloseRange(uint8_t purpose, ClusterSpan range, const std::vector<uint8_t>& bits,
                         uint64_t end) const;
  // The bitmap answer buffer: 80 KiB, kept off the job thread's stack.
  std::unique_ptr<VolumeBitmapBuffer> BitmapBuffer;
  std::unique_ptr<RetrievalPointersBuffer> RetrievalBuffer;
};

} // namespace quillo
