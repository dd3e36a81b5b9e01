// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/BlockDevice.h"

#include <vector>

namespace quillo {

bool BlockDevice::CopyWithin(uint64_t from, uint64_t to, size_t length) {
  std::vector<uint8_t> buffer(length);
  return ReadAt(from, buffer.data(), length) && WriteAt(to, buffer.data(), length);
}

bool BlockDevice::ReadPieces(std::span<const ReadPiece> pieces) {
  for (const ReadPiece& piece : pieces)
    if (!ReadAt(piece.Offset, piece.Buffer, piece.Length)) return false;
  return true;
}

} // namespace quillo
