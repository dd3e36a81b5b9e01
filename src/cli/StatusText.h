// SPDX-License-Identifier: GPL-2.0-or-later
// The texts the window shows for a job and its report, in their built-in
// English form, for the command-line tool.
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

// The status of a job by state, command and mode, with the percentage for
// the running states ("Optimizing 45%"). Empty where the window leaves its
// column unchanged (a pass under an analysis command, which cannot occur).
std::string JobStatusText(uint8_t state, uint8_t command, uint8_t mode, uint32_t percent);

// "Analyzed", "Defragged", "NoSpace", "Unmovable" for a report entry.
std::string FileResultText(uint8_t status);

// Kilobytes as "512KB", "1.50MB", "1.00GB".
std::string FormatSize(uint64_t kilobytes);

// A date-time's time of day as hh:mm:ss.
std::string TimeOfDayText(double dateTime);

// The suggestion for a volume whose listed files hold `percent` per cent of
// its clusters, `daysSinceOptimized` days after its last optimisation (a
// negative value: never optimised).
std::string SuggestionText(uint64_t percent, int64_t daysSinceOptimized);

} // namespace quillo
