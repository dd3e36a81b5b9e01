// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/ProcActivityCounters.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>
#include <unordered_map>
#include <utility>

namespace quillo {

namespace {

constexpr std::string_view kStatFile = "proc/stat";
constexpr std::string_view kDiskStatsFile = "proc/diskstats";
constexpr std::string_view kUptimeFile = "proc/uptime";
constexpr std::string_view kCpuTotalLabel = "cpu";

constexpr int64_t kUnitsPerSecond = 10'000'000; // 100 ns units
constexpr int64_t kUnitsPerMillisecond = 10'000;

// Columns of the "cpu" line after its label.
constexpr size_t kIdleColumn = 3;
constexpr size_t kIowaitColumn = 4;
// Columns of a proc/diskstats line: major, minor, name, then the counters;
// the tenth counter is the milliseconds spent doing I/O.
constexpr size_t kDiskNameColumn = 2;
constexpr size_t kIoTicksColumn = kDiskNameColumn + 10;

// Block devices that are not disks of their own: loop files, RAM disks,
// compressed RAM, device-mapper and software-RAID volumes stacked on other
// disks, network block devices, optical and floppy drives.
constexpr std::array<std::string_view, 8> kVirtualPrefixes = {
    "loop", "ram", "zram", "dm-", "md", "nbd", "sr", "fd"};

constexpr char kPartitionSeparator = 'p';
constexpr std::string_view kBootAreaPrefix = "boot";
constexpr std::string_view kReplayProtectedSuffix = "rpmb";

std::vector<std::string_view> SplitWords(std::string_view line) {
  std::vector<std::string_view> words;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    size_t end = pos;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > pos) words.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

std::optional<uint64_t> ParseCount(std::string_view word) {
  uint64_t value = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

// Counts beyond this many 100 ns units (about 29,000 years) are taken as
// damaged input rather than allowed to overflow.
constexpr uint64_t kUnitsLimit = uint64_t(std::numeric_limits<int64_t>::max() / 4);

std::optional<int64_t> TicksToUnits(uint64_t ticks, uint32_t ticksPerSecond) {
  if (ticksPerSecond == 0) return std::nullopt;
  const uint64_t seconds = ticks / ticksPerSecond;
  const uint64_t rest = ticks % ticksPerSecond;
  if (seconds > kUnitsLimit / kUnitsPerSecond) return std::nullopt;
  return int64_t(seconds * kUnitsPerSecond + rest * kUnitsPerSecond / ticksPerSecond);
}

// "12345.67" seconds, as in proc/uptime.
std::optional<int64_t> ParseSeconds(std::string_view word) {
  const size_t dot = word.find('.');
  auto whole = ParseCount(word.substr(0, dot));
  if (!whole || *whole > kUnitsLimit / kUnitsPerSecond) return std::nullopt;
  int64_t units = int64_t(*whole) * kUnitsPerSecond;
  if (dot != std::string_view::npos) {
    std::string_view fraction = word.substr(dot + 1);
    if (fraction.empty() || !ParseCount(fraction)) return std::nullopt;
    int64_t scale = kUnitsPerSecond;
    for (char digit : fraction) {
      scale /= 10;
      units += (digit - '0') * scale;
    }
  }
  return units;
}

bool IsVirtual(std::string_view name) {
  return std::any_of(kVirtualPrefixes.begin(), kVirtualPrefixes.end(),
                     [name](std::string_view prefix) { return name.starts_with(prefix); });
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The kernel names partition N of disk "sda" "sdaN", and of a disk whose
// name ends in a digit ("nvme0n1", "mmcblk0") "nvme0n1pN". An eMMC card
// also shows its boot areas ("mmcblk0boot0") and its replay-protected area
// ("mmcblk0rpmb") as devices of their own.
bool IsPartitionOf(std::string_view name, std::string_view disk) {
  if (disk.empty() || name.size() <= disk.size() || !name.starts_with(disk)) return false;
  std::string_view rest = name.substr(disk.size());
  const char lastOfDisk = disk.back();
  if (lastOfDisk >= '0' && lastOfDisk <= '9') {
    if (rest == kReplayProtectedSuffix) return true;
    if (rest.starts_with(kBootAreaPrefix) && AllDigits(rest.substr(kBootAreaPrefix.size()))) return true;
    return rest.size() > 1 && rest.front() == kPartitionSeparator && AllDigits(rest.substr(1));
  }
  return AllDigits(rest);
}

} // namespace

ProcActivityCounters::ProcActivityCounters(std::filesystem::path root, HostFacts& host)
    : Root(std::move(root)), Host(host) {}

std::optional<std::string> ProcActivityCounters::ReadText(std::string_view relativePath) const {
  std::ifstream file(Root / relativePath, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return std::move(text).str();
}

uint32_t ProcActivityCounters::ProcessorCount() {
  return Host.OnlineProcessors();
}

std::optional<ProcessorTimes> ProcActivityCounters::ReadProcessorTimes() {
  auto stat = ReadText(kStatFile);
  if (!stat) return std::nullopt;
  for (std::string_view line : SplitLines(*stat)) {
    auto words = SplitWords(line);
    if (words.empty() || words.front() != kCpuTotalLabel) continue;
    if (words.size() <= 1 + kIowaitColumn) return std::nullopt;
    auto idle = ParseCount(words[1 + kIdleColumn]);
    auto iowait = ParseCount(words[1 + kIowaitColumn]);
    if (!idle || !iowait || *idle > kUnitsLimit - *iowait) return std::nullopt;
    auto idleTime = TicksToUnits(*idle + *iowait, Host.ClockTicksPerSecond());
    auto systemTime = Host.SystemTime();
    if (!idleTime || !systemTime) return std::nullopt;
    return ProcessorTimes{*idleTime, *systemTime};
  }
  return std::nullopt;
}

std::optional<DiskIdleTime> ProcActivityCounters::ReadDiskIdle() {
  auto uptimeText = ReadText(kUptimeFile);
  auto diskStats = ReadText(kDiskStatsFile);
  if (!uptimeText || !diskStats) return std::nullopt;
  // proc/uptime: seconds since boot, then the summed idle time of the processors.
  auto uptimeWords = SplitWords(std::string_view(*uptimeText).substr(0, uptimeText->find('\n')));
  if (uptimeWords.empty()) return std::nullopt;
  auto elapsed = ParseSeconds(uptimeWords.front());
  if (!elapsed) return std::nullopt;

  std::vector<std::string> names;
  std::unordered_map<std::string, uint64_t> ioTicks;
  for (std::string_view line : SplitLines(*diskStats)) {
    auto words = SplitWords(line);
    if (words.size() <= kIoTicksColumn) continue;
    auto ticks = ParseCount(words[kIoTicksColumn]);
    if (!ticks) continue;
    std::string name(words[kDiskNameColumn]);
    if (ioTicks.emplace(name, *ticks).second) names.push_back(std::move(name));
  }

  DiskIdleTime result;
  for (const std::string& disk : WholeDisks(names)) {
    const uint64_t busyMilliseconds = std::min<uint64_t>(ioTicks[disk], kUnitsLimit / kUnitsPerMillisecond);
    const int64_t idle = *elapsed - int64_t(busyMilliseconds) * kUnitsPerMillisecond;
    if (__builtin_add_overflow(result.IdleTime, idle, &result.IdleTime)) return std::nullopt;
    ++result.DiskCount;
  }
  return result;
}

std::vector<std::string> ProcActivityCounters::WholeDisks(const std::vector<std::string>& names) {
  std::vector<std::string> disks;
  for (const std::string& name : names) {
    if (IsVirtual(name)) continue;
    const bool partition = std::any_of(names.begin(), names.end(), [&name](const std::string& other) {
      return IsPartitionOf(name, other);
    });
    if (!partition) disks.push_back(name);
  }
  return disks;
}

} // namespace quillo
