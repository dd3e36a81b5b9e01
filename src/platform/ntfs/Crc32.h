// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillo {

// CRC-32 (IEEE 802.3, the zlib polynomial). `crc` chains calls.
uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);

} // namespace quillo
