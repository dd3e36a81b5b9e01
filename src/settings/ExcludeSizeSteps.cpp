// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/ExcludeSizeSteps.h"

#include <algorithm>

namespace quillo {

namespace {
constexpr int32_t kLargestMegabytes = 1023;
constexpr int32_t kMegabytesPerGigabyte = 1024;
} // namespace

std::string FormatMegabytes(int32_t megabytes) {
  if (megabytes > kLargestMegabytes) return std::to_string(megabytes / kMegabytesPerGigabyte) + "GB";
  return std::to_string(megabytes) + "MB";
}

int ExcludeSizePosition(int32_t excludeSizeKilobytes) {
  const int32_t megabytes = excludeSizeKilobytes / kKilobytesPerMegabyte;
  for (size_t p = 0; p < ExcludeSizeSteps.size(); ++p) {
    if (ExcludeSizeSteps[p] == megabytes) return int(p);
  }
  return -1;
}

int32_t ExcludeSizeAt(int position) {
  const int held = std::clamp(position, 0, int(ExcludeSizeSteps.size()) - 1);
  return ExcludeSizeSteps[size_t(held)] * kKilobytesPerMegabyte;
}

int64_t EngineSizeLimit(bool enableExclude, int32_t excludeSizeKilobytes) {
  // A size of zero or below would leave out every file; it means no limit.
  if (!enableExclude || excludeSizeKilobytes <= 0) return 0;
  // In 64 bits: the 10 GB step is 10737418240 bytes.
  return int64_t(excludeSizeKilobytes) * kBytesPerKilobyte;
}

} // namespace quillo
