// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/Crc32.h"

#include <zlib.h>

namespace quillo {

uint32_t Crc32(const void* data, size_t length, uint32_t crc) {
  return uint32_t(crc32_z(crc, static_cast<const Bytef*>(data), length));
}

} // namespace quillo
