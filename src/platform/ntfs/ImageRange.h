// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace quillo {

// Sectors are the unit of the disk's atomic writes and of the journal's
// comparisons.
constexpr uint32_t kSectorBytes = 512;

// A run of whole sectors of a volume with its contents before and after one
// update.
struct ImageRange {
  uint64_t Offset = 0; // bytes, a multiple of kSectorBytes
  std::vector<uint8_t> Before;
  std::vector<uint8_t> After; // same length as Before
};

} // namespace quillo
