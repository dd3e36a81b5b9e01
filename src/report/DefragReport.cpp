// SPDX-License-Identifier: GPL-2.0-or-later
#include "report/DefragReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quillo {

namespace {

constexpr int64_t kMillisecondsPerSecond = 1000;
constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr int64_t kMillisecondsPerHour = kSecondsPerHour * kMillisecondsPerSecond;
constexpr int64_t kMillisecondsPerMinute = kSecondsPerMinute * kMillisecondsPerSecond;
// The hour figure of the remaining time wraps like the other two.
constexpr int64_t kRemainingHourWrap = 60;
// Far beyond any real estimate; keeps the conversion to an integer defined.
constexpr double kMaxRemainingSeconds = 1e15;

// A date-time span to whole milliseconds, as date-times are decoded.
int64_t SpanMilliseconds(TDateTime span) {
  double ms = span * double(kMillisecondsPerDay);
  if (!std::isfinite(ms)) return 0;
  constexpr double kLimit = 9e18;
  return std::llround(std::clamp(ms, -kLimit, kLimit));
}

std::string TwoDigits(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%02lld", static_cast<long long>(value));
  return text;
}

} // namespace

TDefragReport::TDefragReport(Clock& clock) : SystemClock(clock) {}

void TDefragReport::SetVolumeFigures(const VolumeFigures& figures) {
  std::lock_guard<std::mutex> guard(Lock);
  Figures = figures;
}

VolumeFigures TDefragReport::GetVolumeFigures() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Figures;
}

void TDefragReport::Clear() {
  {
    std::lock_guard<std::mutex> guard(Lock);
    EntryList.clear();
    EntryIndex.clear();
  }
  FileCount = 0;
  DirCount = 0;
  FragmentedDirCount = 0;
  FragmentedFileCount = 0;
  DefraggedDirCount = 0;
  DefraggedFileCount = 0;
}

void TDefragReport::AddEntry(const FILE_INFO& file) {
  // Counted whether or not the name is already listed: a file found
  // fragmented and then defragmented counts once in each pair.
  if (file.Status == fsAnalyzed) {
    ++(file.DirFlag ? FragmentedDirCount : FragmentedFileCount);
  } else if (file.Status == fsDefragged) {
    ++(file.DirFlag ? DefraggedDirCount : DefraggedFileCount);
  }

  std::lock_guard<std::mutex> guard(Lock);
  auto [slot, added] = EntryIndex.try_emplace(file.Name, EntryList.size());
  if (added) {
    try {
      EntryList.push_back(file);
    } catch (...) {
      EntryIndex.erase(slot);
      throw;
    }
    return;
  }
  FILE_INFO& entry = EntryList[slot->second];
  // Once defragmented, an entry keeps that outcome.
  if (entry.Status != fsDefragged) entry = file;
}

void TDefragReport::MarkStart() {
  TDateTime now = SystemClock.Now();
  std::lock_guard<std::mutex> guard(Lock);
  Start = now;
}

void TDefragReport::MarkEnd() {
  TDateTime now = SystemClock.Now();
  std::lock_guard<std::mutex> guard(Lock);
  End = now;
  // Only the time of day of the span counts: hours run 0 to 23.
  int64_t ms = std::llabs(SpanMilliseconds(End - Start)) % kMillisecondsPerDay;
  Elapsed = TwoDigits(ms / kMillisecondsPerHour) + ":" +
            TwoDigits(ms / kMillisecondsPerMinute % kSecondsPerMinute) + ":" +
            TwoDigits(ms / kMillisecondsPerSecond % kSecondsPerMinute);
}

std::string TDefragReport::RemainingTime() const {
  TDateTime start = StartTime();
  int64_t elapsedMs = SpanMilliseconds(SystemClock.Now() - start);
  // The remaining clusters are assumed to move at the average speed so far.
  // Signed and 64-bit: more moved than queued gives no time left, not a wrap.
  int64_t toMove = ClustersToMove.load();
  int64_t moved = ClustersMoved.load();
  double seconds = double(elapsedMs) * double(toMove - moved) / double(moved + 1) /
                   double(kMillisecondsPerSecond);
  if (!(seconds > 0)) seconds = 0;
  seconds = std::min(seconds, kMaxRemainingSeconds);
  int64_t s = int64_t(seconds);
  return std::to_string(s / kSecondsPerHour % kRemainingHourWrap) + ":" +
         std::to_string(s / kSecondsPerMinute % kSecondsPerMinute) + ":" +
         std::to_string(s % kSecondsPerMinute);
}

std::vector<FILE_INFO> TDefragReport::Entries() const {
  std::lock_guard<std::mutex> guard(Lock);
  return EntryList;
}

size_t TDefragReport::EntryCount() const {
  std::lock_guard<std::mutex> guard(Lock);
  return EntryList.size();
}

TDateTime TDefragReport::StartTime() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Start;
}

TDateTime TDefragReport::EndTime() const {
  std::lock_guard<std::mutex> guard(Lock);
  return End;
}

std::string TDefragReport::ElapsedText() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Elapsed;
}

void TDefragReport::NoteSkipped(const std::string& why) {
  std::lock_guard<std::mutex> guard(Lock);
  SkipReason = why;
}

std::string TDefragReport::Skipped() const {
  std::lock_guard<std::mutex> guard(Lock);
  return SkipReason;
}

} // namespace quillo
