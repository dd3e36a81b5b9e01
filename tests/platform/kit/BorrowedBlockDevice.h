// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/BlockDevice.h"

namespace quillo::test {

// Lends a device the test keeps to a volume that wants to own one.
class BorrowedBlockDevice final : public BlockDevice {
public:
  explicit BorrowedBlockDevice(BlockDevice& inner) : Inner(inner) {}
  uint64_t Size() const override { return Inner.Size(); }
  bool ReadOnly() const override { return Inner.ReadOnly(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    return Inner.ReadAt(offset, buffer, length);
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    return Inner.WriteAt(offset, data, length);
  }
  bool Sync() override { return Inner.Sync(); }
  bool CopyWithin(uint64_t from, uint64_t to, size_t length) override {
    return Inner.CopyWithin(from, to, length);
  }

private:
  BlockDevice& Inner;
};

} // namespace quillo::test
