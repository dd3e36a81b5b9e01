// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ForwardingBlockDevice.h"

namespace quillo::test {

// Passes everything to another device and counts the writes (and the
// flushes, when asked).
class RecordingBlockDevice final : public ForwardingBlockDevice {
public:
  RecordingBlockDevice(std::unique_ptr<BlockDevice> inner, uint64_t& writes,
                       uint64_t* syncs = nullptr)
      : ForwardingBlockDevice(std::move(inner)), Writes(writes), Syncs(syncs) {}
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    ++Writes;
    return Target().WriteAt(offset, data, length);
  }
  bool Sync() override {
    if (Syncs) ++*Syncs;
    return Target().Sync();
  }

private:
  uint64_t& Writes;
  uint64_t* Syncs;
};

} // namespace quillo::test
