// SPDX-License-Identifier: GPL-2.0-or-later
// Numbers in the platform's messages, written the way people read them.
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

// 20000 -> "20,000".
std::string FormatCount(uint64_t count);

// In binary units: "512 bytes", "64 MiB", "1.5 GiB" (one decimal below 10).
std::string FormatByteSize(uint64_t bytes);

} // namespace quillo
