// SPDX-License-Identifier: GPL-2.0-or-later
// The large-file limit: the sizes the options page's trackbar offers, their
// text, and the limit an engine receives.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quillo {

// Megabytes at the positions 0 to 6 of the trackbar.
inline constexpr std::array<int32_t, 7> ExcludeSizeSteps = {100, 200, 500, 1024, 2048, 5120, 10240};
inline constexpr int32_t kKilobytesPerMegabyte = 1024;
inline constexpr int64_t kBytesPerKilobyte = 1024;

// "100MB" … "1023MB"; above 1023, whole gigabytes: "1GB", "10GB".
std::string FormatMegabytes(int32_t megabytes);

// The position whose step equals `excludeSizeKilobytes` ÷ 1024 (integer
// division); -1 when no step does.
int ExcludeSizePosition(int32_t excludeSizeKilobytes);

// The setting stored for a trackbar position: the step in kilobytes. A
// position outside the table is held within it.
int32_t ExcludeSizeAt(int position);

// What every engine receives as its large-file limit, in bytes: the setting
// × 1024 when the exclusion is on, 0 (no limit) when it is off or the
// setting is not a positive size.
int64_t EngineSizeLimit(bool enableExclude, int32_t excludeSizeKilobytes);

} // namespace quillo
