// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace quillo::fat {

// A FAT date and time (local time, two-second steps) as a FILETIME value
// (100 ns units since 1601-01-01) without any time-zone conversion: the
// time as stored. 0 when the date is unset or not a valid date.
uint64_t DosDateTimeToFileTime(uint16_t date, uint16_t time);

} // namespace quillo::fat
