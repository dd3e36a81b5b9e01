// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillo {

// One part of a gathered read: `Length` bytes from `Offset` into `Buffer`.
// A file in a thousand fragments is read as a thousand of these at once.
struct ReadPiece {
  uint64_t Offset = 0;
  void* Buffer = nullptr;
  size_t Length = 0;
};

} // namespace quillo
