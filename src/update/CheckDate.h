// SPDX-License-Identifier: GPL-2.0-or-later
// The date of "lastcheckupdate": written as yyyy-MM-dd, read back the same
// way.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/DefragDefine.h"

namespace quillo {

// The calendar day of a date-time (days since 1899-12-30), as yyyy-MM-dd.
std::string FormatCheckDate(TDateTime moment);

// Midnight of the day written as yyyy-MM-dd; nothing for any other text or
// a day that does not exist.
std::optional<TDateTime> ParseCheckDate(std::string_view text);

} // namespace quillo
