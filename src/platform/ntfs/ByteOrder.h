// SPDX-License-Identifier: GPL-2.0-or-later
// Explicit little-endian loads and stores for the on-disk records of this
// folder, whatever the host's byte order.
#pragma once

#include <cstdint>

namespace quillo {

inline uint16_t LoadLe16(const uint8_t* at) { return uint16_t(at[0] | (at[1] << 8)); }
inline uint32_t LoadLe32(const uint8_t* at) {
  return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) |
         (uint32_t(at[3]) << 24);
}
inline uint64_t LoadLe64(const uint8_t* at) {
  return uint64_t(LoadLe32(at)) | (uint64_t(LoadLe32(at + 4)) << 32);
}
inline void StoreLe16(uint8_t* at, uint16_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
}
inline void StoreLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}
inline void StoreLe64(uint8_t* at, uint64_t value) {
  StoreLe32(at, uint32_t(value));
  StoreLe32(at + 4, uint32_t(value >> 32));
}

} // namespace quillo
