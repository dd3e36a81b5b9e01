// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ShadowCopyCheck.h"

#include <algorithm>
#include <cstdio>

#include "platform/ntfs/ShadowCopyCatalog.h"

namespace quillo {

namespace {

// FILETIME counts 100 ns from 1601-01-01; days from then to 1970-01-01.
constexpr uint64_t kTicksPerDay = 864000000000ULL;
constexpr int64_t kDaysFrom1601To1970 = 134774;
// The proleptic Gregorian calendar repeats every 400 years (an era), counted
// here from 0000-03-01 so that leap days end a year.
constexpr int64_t kDaysFromEpochOfErasTo1970 = 719468;
constexpr int64_t kDaysPerEra = 146097;

// "2024-06-07" (UTC) of a FILETIME.
std::string DateOf(uint64_t fileTime) {
  // Days since 1970-01-01 to a civil date (H. Hinnant's days_from_civil, inverted).
  int64_t z = int64_t(fileTime / kTicksPerDay) - kDaysFrom1601To1970 + kDaysFromEpochOfErasTo1970;
  int64_t era = (z >= 0 ? z : z - (kDaysPerEra - 1)) / kDaysPerEra;
  int64_t dayOfEra = z - era * kDaysPerEra;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t shifted = (5 * dayOfYear + 2) / 153;
  int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof(text), "%04lld-%02lld-%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day));
  return text;
}

constexpr const char* kWhatToDo =
    "Defragment this volume from Windows, or delete the restore points there first (System "
    "Properties > System Protection > Configure > Delete, or Disk Cleanup > Clean up system "
    "files > More Options > System Restore and Shadow Copies); nothing was written.";

} // namespace

std::string ShadowCopyRefusal(const ShadowCopyCatalog& catalog) {
  switch (catalog.Result()) {
  case ShadowCopyCatalog::Finding::None:
  case ShadowCopyCatalog::Finding::NoSnapshots:
    return {};
  case ShadowCopyCatalog::Finding::Malformed:
    return "Writes are refused: the volume's Windows shadow-copy metadata is damaged (" +
           catalog.Problem() +
           "), so it cannot be told whether moving files would spoil System Restore points or "
           "previous versions kept on it. " + kWhatToDo;
  case ShadowCopyCatalog::Finding::Snapshots:
    break;
  }
  const std::vector<ShadowCopy>& copies = catalog.Snapshots();
  auto [oldest, newest] = std::minmax_element(
      copies.begin(), copies.end(),
      [](const ShadowCopy& a, const ShadowCopy& b) { return a.CreationTime < b.CreationTime; });
  std::string when = copies.size() == 1
                         ? "taken " + DateOf(oldest->CreationTime)
                         : "taken from " + DateOf(oldest->CreationTime) + " to " +
                               DateOf(newest->CreationTime);
  std::string count = copies.size() == 1 ? "1 Windows shadow copy"
                                         : std::to_string(copies.size()) + " Windows shadow copies";
  return "Writes are refused: the volume holds " + count +
         " (System Restore points or previous versions of files, " + when +
         "). A shadow copy keeps only the old contents of clusters that Windows changed since "
         "it was taken and reads every other cluster from where it lies now; moving files "
         "offline changes clusters behind its back, so the restore points would show wrong or "
         "unreadable files. " + kWhatToDo;
}

} // namespace quillo
