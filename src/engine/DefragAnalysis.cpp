// SPDX-License-Identifier: GPL-2.0-or-later
// The analysis frame both walks share, the examination of one entry,
// ReadFileInfo and the zone plan.
#include "engine/DefragClass.h"

#include <algorithm>
#include <array>

#include "engine/DateTime.h"

namespace quillo {

namespace {

// Recently written ("frequently used") files: at least this many days and
// less than that many days since the last write.
constexpr double kRecentFromDays = 2.0;
constexpr double kRecentBeforeDays = 33.0;

// The zone plan cuts the volume into buckets of TotalClusters div 998
// clusters and tracks 1000 of them.
constexpr uint32_t kZoneBucketDivisor = 998;
constexpr uint32_t kZoneBucketCount = 1000;
constexpr uint32_t kZoneBucketLimit = 999;
constexpr uint32_t kZoneGrowthPercent = 115;
constexpr uint32_t kPercent = 100;

uint32_t SumClusters(const FileList& list) {
  uint32_t sum = 0;
  for (const auto& file : list) sum += file->Clusters;
  return sum;
}

} // namespace

void TDefrag::BeforeFileInfo(uint32_t) {}
void TDefrag::NameNeeded(FILE_INFO&) {}
uint32_t TDefrag::WalkPercentage(uint32_t) { return 0; }
void TDefrag::AfterFileInfo(Handle, const FILE_INFO&) {}

void TDefrag::SetStateUnlessStopping(uint8_t state) {
  uint8_t current = State.load();
  while (current != dsStopping && !State.compare_exchange_weak(current, state)) {
  }
}

void TDefrag::BeginAnalysis() {
  Map->ResetMap();
  Report->Clear();
  FragmentedList.clear();
  FrequentList.clear();
  RareList.clear();
  DirectoryList.clear();
  if (!ReadVolumeInfo()) throw DefragError("GetVolumeInfo Error");
  if (!ReadFreeSpace(0)) throw DefragError("GetVolumeBitmap Error");
  ActiveMasks.clear();
  for (const std::string& mask : ExcludeMasks) ActiveMasks.emplace_back(mask);
}

bool TDefrag::ExamineEntry(std::unique_ptr<FILE_INFO>& record, uint8_t mode, uint32_t counter) {
  if (State.load() == dsStopping) {
    record.reset();
    Map->ResetMap();
    return false;
  }
  if (Throttled.load() && counter % kThrottleInterval == 0) SystemClock().Sleep(kThrottleWaitMs);
  WaitWhilePaused(dsAnalyzePaused);
  BeforeFileInfo(counter);

  FILE_INFO& entry = *record;
  if (!ReadFileInfo(entry)) return true;
  // A named stream is part of its file, which is counted once.
  if (entry.StreamName.empty()) ++(entry.DirFlag ? Report->DirCount : Report->FileCount);
  if (!ReadExtents(entry)) return true;

  int64_t sizeLimit = SizeLimit.load();
  if (sizeLimit != 0 && entry.Size >= sizeLimit) return true;

  // The walk may fill the name on demand (an extra open on NTFS): at most
  // once per entry, and only for the steps that need it.
  bool named = false;
  auto ensureName = [&] {
    if (!named) NameNeeded(entry);
    named = true;
  };
  if (!ActiveMasks.empty()) {
    ensureName();
    for (const FileMask& mask : ActiveMasks)
      if (mask.Matches(entry.Name)) return true;
  }
  if (counter % kCaptionInterval == 0) {
    ensureName();
    Map->SetCaption(entry.Name);
    Map->SetProgress(WalkPercentage(counter));
  }
  if (entry.ExtentCount == 0) return true;

  Map->AddExtents(entry, FileCategory(entry));
  Map->RemoveExtents(entry, mcUsed);
  Map->RefreshExtents(entry, false);

  bool fragmented = entry.ExtentCount >= 2;
  if (mode == dmOptimize || fragmented) ensureName();
  if (fragmented) {
    entry.Status = fsAnalyzed;
    Report->AddEntry(entry);
    FragmentedList.push_back(std::move(record));
  } else if (mode != dmOptimize) {
    return true; // reused for the next entry
  } else if (entry.DirFlag) {
    DirectoryList.push_back(std::move(record));
  } else if (entry.Recent) {
    FrequentList.push_back(std::move(record));
  } else {
    RareList.push_back(std::move(record));
  }
  record = std::make_unique<FILE_INFO>();
  return true;
}

void TDefrag::FinishAnalysis(uint8_t mode) {
  if (mode == dmOptimize) ComputeZones();
  Map->RefreshRange(0, Map->TotalClusters(), false);
  Map->SetProgress(0);
  Map->SetCaption(VolumeName + "\\");
  ActiveMasks.clear();
  SetStateUnlessStopping(dsAnalyzed);
}

bool TDefrag::ReadFileInfo(FILE_INFO& file) {
  file.Status = fsNone;
  Handle handle = OpenFile(file);
  if (handle == kInvalidHandle) return false;
  FileInformation information;
  bool result = Volume->GetFileInformationByHandle(handle, information);
  if (result && (information.FileAttributes & kFileAttributeDirectory)) {
    // A directory has no size and no write time worth ranking it by; both
    // are zero so that the size limit never leaves one out and a fragmented
    // directory is placed as a rarely used file.
    file.DirFlag = true;
    file.Size = 0;
    file.Recent = false;
  } else if (result) {
    file.DirFlag = false;
    // The write time is taken as stored and compared with local time.
    CalendarTime calendar;
    result = FileTimeToCalendar(information.LastWriteTime, calendar);
    if (result) {
      TDateTime now = SystemClock().Now();
      TDateTime written;
      if (!TryEncodeDateTime(calendar, written)) written = now;
      double days = now - written;
      file.Recent = days >= kRecentFromDays && days < kRecentBeforeDays;
      file.Size = int64_t(information.FileSize);
    }
  }
  if (result) AfterFileInfo(handle, file);
  Volume->CloseHandle(handle);
  return result;
}

void TDefrag::ComputeZones() {
  // Volumes under 998 clusters would give empty buckets; one cluster per
  // bucket keeps the plan meaningful there.
  uint32_t unit = std::max<uint32_t>(TotalClusters / kZoneBucketDivisor, 1);
  uint32_t frontBuckets = SumClusters(FrequentList) / unit;

  std::array<uint32_t, kZoneBucketCount> hist{};
  for (const auto& file : RareList) {
    for (const EXTENT_INFO& extent : file->Extents) {
      uint32_t lcn = extent.Lcn;
      uint32_t length = extent.Length;
      while (length > 0) {
        uint32_t bucket = lcn / unit;
        uint32_t take = std::min(length, unit - lcn % unit);
        if (bucket < kZoneBucketCount) hist[bucket] += take;
        lcn += take;
        length -= take;
      }
    }
  }

  uint32_t zoneBuckets = (SumClusters(RareList) + SumClusters(DirectoryList)) / unit;
  uint32_t grown = zoneBuckets * kZoneGrowthPercent / kPercent;
  if (grown + frontBuckets < kZoneBucketLimit) zoneBuckets = grown;
  if (frontBuckets + zoneBuckets + 1 < kZoneBucketLimit) zoneBuckets += 1;

  // Rare clusters in the window of zoneBuckets buckets from i. Windows that
  // would reach past the tracked buckets are left at 0, so a zone too large
  // for the volume (small volumes that are nearly full) stays at the front.
  std::array<uint32_t, kZoneBucketCount> window{};
  uint32_t span = std::max<uint32_t>(zoneBuckets, 1);
  uint32_t lastStart = zoneBuckets <= kZoneBucketLimit ? kZoneBucketLimit - zoneBuckets : 0;
  bool anyWindow = zoneBuckets <= kZoneBucketLimit;
  if (anyWindow) {
    uint32_t sum = 0;
    for (uint32_t k = 0; k < span; ++k) sum += hist[k];
    window[0] = sum;
    for (uint32_t i = 1; i <= lastStart; ++i) {
      sum += hist[i + span - 1];
      sum -= hist[i - 1];
      window[i] = sum;
    }
  }

  uint32_t best = frontBuckets;
  auto windowAt = [&](uint32_t i) { return i < kZoneBucketCount ? window[i] : 0u; };
  grown = frontBuckets * kZoneGrowthPercent / kPercent;
  if (grown + zoneBuckets < kZoneBucketLimit) frontBuckets = grown;
  if (frontBuckets + 1 + zoneBuckets < kZoneBucketLimit) frontBuckets += 1;
  if (anyWindow)
    for (uint32_t i = frontBuckets; i <= lastStart; ++i)
      if (windowAt(i) > windowAt(best)) best = i;

  ZoneStart = best * unit;
  ZoneEnd = (best + zoneBuckets) * unit;
  Map->PaintRange(ZoneStart, ZoneEnd - ZoneStart, mcTarget, false);
  Map->RefreshRange(ZoneStart, ZoneEnd - ZoneStart, false);
}

} // namespace quillo
