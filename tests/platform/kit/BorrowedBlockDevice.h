// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/ForwardingBlockDevice.h"

namespace quillo::test {

// Lends a device the test keeps to a volume that wants to own one.
class BorrowedBlockDevice final : public ForwardingBlockDevice {
public:
  explicit BorrowedBlockDevice(BlockDevice& inner) : ForwardingBlockDevice(inner) {}
  bool CopyWithin(uint64_t from, uint64_t to, size_t length) override {
    return Target().CopyWithin(from, to, length);
  }
  bool CopiesWithin() const override { return Target().CopiesWithin(); }
  bool ReadPieces(std::span<const ReadPiece> pieces) override { return Target().ReadPieces(pieces); }
};

} // namespace quillo::test
