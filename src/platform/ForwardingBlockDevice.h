// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <utility>

#include "platform/BlockDevice.h"

namespace quillo {

// Passes every call on to another device, for wrappers that watch or change
// only some of them. Copies are not passed on: by default they come back
// through this device as one read and one write, so a wrapper sees them.
class ForwardingBlockDevice : public BlockDevice {
public:
  // Owns the device it passes calls to.
  explicit ForwardingBlockDevice(std::unique_ptr<BlockDevice> inner)
      : Owned(std::move(inner)), Inner(*Owned) {}
  // Only lends to a device the caller keeps alive.
  explicit ForwardingBlockDevice(BlockDevice& inner) : Inner(inner) {}

  uint64_t Size() const override { return Inner.Size(); }
  bool ReadOnly() const override { return Inner.ReadOnly(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    return Inner.ReadAt(offset, buffer, length);
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    return Inner.WriteAt(offset, data, length);
  }
  bool Sync() override { return Inner.Sync(); }
  void StartWriteBack() override { Inner.StartWriteBack(); }

protected:
  BlockDevice& Target() { return Inner; }
  const BlockDevice& Target() const { return Inner; }

private:
  std::unique_ptr<BlockDevice> Owned;
  BlockDevice& Inner;
};

} // namespace quillo
