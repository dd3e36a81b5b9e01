// SPDX-License-Identifier: GPL-2.0-or-later
// Construction and volume access: geometry, bitmap, extents and moves.
#include "engine/DefragClass.h"

#include <algorithm>
#include <bit>
#include <cctype>

#include "engine/BitmapBits.h"

namespace quillo {

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr int64_t kNoPlaceOnDisk = -1;

std::string UpperCase(std::string text) {
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

static_assert(kBitmapBufferBytes % kBitmapBytesPerWord == 0, "the bitmap is read in whole words");

} // namespace

TDefrag::TDefrag(const std::string& volumeName, std::shared_ptr<VolumeDevice> device,
                 const EngineServices& services)
    : Services(services), Volume(std::move(device)), FastFree(services.Notifier),
      MiddleFree(services.Notifier), BitmapBuffer(std::make_unique<VolumeBitmapBuffer>()),
      RetrievalBuffer(std::make_unique<RetrievalPointersBuffer>()) {
  VolumeName = UpperCase(volumeName);
  State = dsIdle;
  ReleaseWhileIdle = false;
  SizeLimit = 0;
  Throttled = 0;
  Report = std::make_unique<TDefragReport>(Services.SystemClock);

  if (!Volume) throw DefragError("GetVolumeInfoError");
  bool known = ReadVolumeInfo();
  if (known) OpenVolumeHandle();
  if (VolumeHandle == kInvalidHandle) {
    // Nobody was asked to authorise this opening (the list of a window
    // coming up at log-on); the first command that may ask opens it.
    if (!Volume->OpenNeedsAuthorisation())
      throw DefragError(known ? "OpenDiskError" : "GetVolumeInfoError");
    AwaitingFirstOpening = true;
  }
  ReleaseVolume();

  Map = std::make_unique<TDefragMap>(TotalClusters, Services.Dispatcher, Services.MapHandOver);
  if (!AwaitingFirstOpening) DrawEmptyMap();
  Map->SetProgress(0);
  Map->SetCaption(VolumeName + "\\");
}

void TDefrag::DrawEmptyMap() {
  Map->SetTotalClusters(TotalClusters);
  Map->InitMap(TDefragMap::kMapWidth, TDefragMap::kMapHeight, TDefragMap::kCellSize,
               TDefragMap::kCellSize);
}

TDefrag::~TDefrag() {
  // Containers first, then the report, then the map; the volume handle last.
  FragmentedList.clear();
  FrequentList.clear();
  RareList.clear();
  DirectoryList.clear();
  FastFree.ClearNodes();
  MiddleFree.ClearNodes();
  FrontFree.ClearNodes();
  BackFree.ClearNodes();
  Report.reset();
  Map.reset();
  if (VolumeHandle != kInvalidHandle) {
    Volume->EndWriteSession();
    Volume->CloseHandle(VolumeHandle);
    VolumeHandle = kInvalidHandle;
  }
}

void TDefrag::OpenVolumeHandle() { VolumeHandle = Volume->OpenVolume(kDevicePrefix + VolumeName); }

bool TDefrag::ReopenVolume() {
  // A volume kept between commands is opened again only when the opening
  // held does not serve the next command (read for an analysis, and now a
  // pass is to write), or when the last attempt failed.
  if (!ReleaseWhileIdle && VolumeHandle != kInvalidHandle && !Volume->NeedsReopening())
    return true;
  // A handle still open (the flag was set while it was held, or the opening
  // no longer serves) is replaced, not leaked.
  if (VolumeHandle != kInvalidHandle) {
    Volume->EndWriteSession();
    Volume->CloseHandle(VolumeHandle);
  }
  OpenVolumeHandle();
  if (VolumeHandle == kInvalidHandle) return false;
  // The volume is looked at for the first time: its size gives the map. A
  // volume whose size cannot be read is not one to work on.
  if (AwaitingFirstOpening) {
    if (!ReadVolumeInfo()) {
      Volume->EndWriteSession();
      Volume->CloseHandle(VolumeHandle);
      VolumeHandle = kInvalidHandle;
      return false;
    }
    DrawEmptyMap();
    AwaitingFirstOpening = false;
  }
  return true;
}

void TDefrag::ReleaseVolume() {
  if (!ReleaseWhileIdle || VolumeHandle == kInvalidHandle) return;
  Volume->EndWriteSession();
  Volume->CloseHandle(VolumeHandle);
  VolumeHandle = kInvalidHandle;
}

bool TDefrag::ReadVolumeInfo() {
  DiskGeometry geometry;
  bool ok = Volume->GetGeometry(VolumeName + "\\", geometry);
  if (ok) {
    SectorsPerCluster = geometry.SectorsPerCluster;
    BytesPerSector = geometry.BytesPerSector;
    FreeClusters = geometry.NumberOfFreeClusters;
    TotalClusters = geometry.TotalNumberOfClusters;
    uint32_t bytesPerCluster = SectorsPerCluster * BytesPerSector;
    FreeBytes = int64_t(uint64_t(bytesPerCluster) * FreeClusters);
    TotalBytes = int64_t(uint64_t(bytesPerCluster) * TotalClusters);
  }
  VolumeFigures figures;
  figures.VolumeName = VolumeName;
  figures.TotalBytes = uint64_t(TotalBytes);
  figures.FreeBytes = uint64_t(FreeBytes);
  figures.TotalClusters = TotalClusters;
  figures.SectorsPerCluster = SectorsPerCluster;
  figures.BytesPerSector = BytesPerSector;
  Report->SetVolumeFigures(figures);
  Report->Clear();
  return ok;
}

void TDefrag::RecordFreeRun(uint8_t purpose, uint32_t start, uint32_t length) {
  if (purpose == dmFast) {
    FastFree.InsertExtent(start, length);
  } else if (purpose == dmOptimize) {
    // Only the run's first cluster decides its region.
    if (start < ZoneStart)
      FrontFree.AddNode(start, length);
    else if (start > ZoneEnd)
      BackFree.AddNode(start, length);
    else
      MiddleFree.InsertExtent(start, length);
  }
}

bool TDefrag::AskBitmap(int64_t start, NtStatus& status) {
  VolumeBitmapBuffer& answer = *BitmapBuffer;
  IoStatusBlock iosb;
  status = Volume->GetVolumeBitmap(VolumeHandle, start, answer, iosb);
  if (status == kStatusPending) {
    SystemClock().Sleep(kPendingReadWaitMs);
    status = iosb.Status;
  }
  if (status != kStatusSuccess && status != kStatusBufferOverflow) return false;
  return answer.StartingLcn >= 0 && answer.StartingLcn <= start && answer.BitmapSize >= 0;
}

bool TDefrag::ReadFreeSpaceByAnswers(uint8_t purpose) {
  if (purpose == 0) {
    Map->ClearCategory(mcFree);
    Map->ClearCategory(mcUsed);
  } else if (purpose == dmFast || purpose == dmOptimize) {
    ClearFreeSpace(purpose);
  }

  // The run counters carry over from one answer to the next, so a run that
  // crosses the end of an answer is recorded once, whole.
  uint32_t usedRun = 0;
  uint32_t freeRun = 0;
  int64_t start = 0;
  VolumeBitmapBuffer& answer = *BitmapBuffer;
  while (true) {
    NtStatus status = kStatusSuccess;
    if (!AskBitmap(start, status)) return false;
    int64_t base = answer.StartingLcn;
    // An answer may begin below the LCN asked for; the bits before it were
    // counted in the previous answer and must not be counted twice.
    uint64_t k = uint64_t(start - base);
    uint64_t limit = std::min<uint64_t>(uint64_t(answer.BitmapSize), kBitmapCapacityClusters);
    // Run by run: the first bit of a run closes the open run of the other
    // kind, the rest only lengthen it. The counters are 32-bit like the
    // cluster numbers and wrap alike.
    while (k < limit) {
      uint64_t runEnd = RunEnd(answer.Buffer, k, limit);
      uint32_t length = uint32_t(runEnd - k);
      uint32_t lcn = uint32_t(base + int64_t(k));
      if (!BitSet(answer.Buffer, k)) {
        if (usedRun > 0 && purpose == 0) Map->AddRange(lcn - usedRun, usedRun, mcUsed);
        usedRun = 0;
        freeRun += length;
      } else {
        if (freeRun > 0) RecordFreeRun(purpose, lcn - freeRun, freeRun);
        freeRun = 0;
        usedRun += length;
      }
      k = runEnd;
    }
    k = std::max<uint64_t>(k, uint64_t(start - base));
    uint32_t end = uint32_t(base + int64_t(k));

    if (status == kStatusSuccess) {
      if (freeRun > 0) RecordFreeRun(purpose, end - freeRun, freeRun);
      if (usedRun > 0 && purpose == 0) Map->AddRange(end - usedRun, usedRun, mcUsed);
      return true;
    }
    // Buffer overflow: go on from where this answer ended. An answer that
    // brought nothing new would repeat forever.
    if (base + int64_t(k) <= start) return false;
    start = base + int64_t(k);
  }
}

bool TDefrag::ReadExtents(FILE_INFO& file) {
  file.VirtualClusters = 0;
  file.Clusters = 0;
  file.ExtentCount = 0;
  file.Extents.clear();

  Handle handle = OpenFile(file);
  if (handle == kInvalidHandle) return false;

  int64_t vcn = 0;
  // The open run; runLcn 0 means none is open.
  int64_t runLcn = 0;
  int64_t runLength = 0;
  auto appendOpenRun = [&] {
    file.Extents.push_back({uint32_t(runLcn), uint32_t(runLength)});
    file.Clusters += uint32_t(runLength);
    file.ExtentCount += 1;
  };

  RetrievalPointersBuffer& answer = *RetrievalBuffer;
  while (true) {
    IoStatusBlock iosb;
    NtStatus status = Volume->GetRetrievalPointers(handle, vcn, answer, iosb);
    if (status == kStatusPending) {
      SystemClock().Sleep(kPendingReadWaitMs);
      status = iosb.Status;
    }
    if (status != kStatusSuccess && status != kStatusBufferOverflow) {
      Volume->CloseHandle(handle);
      return false;
    }
    if (answer.ExtentCount == 0 || answer.ExtentCount > kRetrievalCapacity) {
      Volume->CloseHandle(handle);
      return false;
    }

    int64_t previousNext = answer.StartingVcn;
    for (uint32_t i = 0; i < answer.ExtentCount; ++i) {
      const RetrievalPointerEntry& entry = answer.Extents[i];
      int64_t length = entry.NextVcn - previousNext;
      previousNext = entry.NextVcn;
      if (entry.Lcn == kNoPlaceOnDisk) {
        file.VirtualClusters += uint32_t(length);
      } else if (entry.Lcn == runLcn + runLength) {
        runLength += length;
      } else {
        if (runLcn != 0) appendOpenRun();
        runLcn = entry.Lcn;
        runLength = length;
      }
    }

    if (status == kStatusSuccess) {
      if (runLcn != 0) appendOpenRun();
      Volume->CloseHandle(handle);
      return true;
    }
    // Buffer overflow: continue after the last entry. A device that does
    // not advance would loop forever.
    int64_t next = answer.Extents[answer.ExtentCount - 1].NextVcn;
    if (next <= vcn) {
      Volume->CloseHandle(handle);
      return false;
    }
    vcn = next;
  }
}

void TDefrag::WaitWhilePaused(uint8_t pausedState) {
  while (State.load() == pausedState) SystemClock().Sleep(kPauseWaitMs);
}

bool TDefrag::MoveFileTo(FILE_INFO& file, uint32_t targetLcn) {
  Handle handle = OpenFile(file);
  if (handle == kInvalidHandle) {
    file.Status = fsUnmovable;
    return false;
  }

  NtStatus lastStatus = kStatusSuccess;
  auto issueMove = [&](int64_t startingVcn, int64_t startingLcn, uint32_t count) {
    MoveFileData data{handle, startingVcn, startingLcn, count};
    IoStatusBlock iosb;
    NtStatus status = Volume->MoveFile(VolumeHandle, data, iosb);
    if (status == kStatusPending) {
      SystemClock().Sleep(kPendingMoveWaitMs);
      status = iosb.Status;
    }
    lastStatus = status;
  };

  if (file.VirtualClusters > 0) {
    // Files with unallocated runs move in one request that covers them all.
    Map->PaintRange(targetLcn, file.Clusters, mcTarget, false);
    Report->ClustersMoved += file.Clusters;
    issueMove(0, targetLcn, file.Clusters + file.VirtualClusters);
  } else if (file.Clusters > 0) {
    uint32_t chunks = (file.Clusters - 1) / kMoveChunkClusters + 1;
    for (uint32_t b = 0; b < chunks; ++b) {
      if (State.load() == dsStopping) {
        Volume->CloseHandle(handle);
        return false;
      }
      if (Throttled.load()) SystemClock().Sleep(kThrottleWaitMs);
      WaitWhilePaused(dsDefragPaused);
      uint32_t offset = b * kMoveChunkClusters;
      uint32_t count = std::min(kMoveChunkClusters, file.Clusters - offset);
      Map->PaintRange(targetLcn + offset, count, mcTarget, false);
      Report->ClustersMoved += count;
      // A failed chunk does not end the loop; the last request's status counts.
      issueMove(offset, int64_t(targetLcn) + offset, count);
    }
  }

  // Verify on a copy: the record keeps its old extents for the pass.
  FILE_INFO copy = file;
  bool result = ReadExtents(copy) && copy.ExtentCount > 0 && copy.Extents[0].Lcn == targetLcn &&
                (copy.ExtentCount < file.ExtentCount || copy.ExtentCount == 1);

  Volume->CloseHandle(handle);
  if (!result && lastStatus == kStatusAlreadyCommitted) file.Status = fsTargetInUse;
  return result;
}

} // namespace quillo
