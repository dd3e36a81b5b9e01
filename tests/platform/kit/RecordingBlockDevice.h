// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>

#include "platform/BlockDevice.h"

namespace quillo::test {

// Passes everything to another device and counts the writes (and the
// flushes, when asked).
class RecordingBlockDevice final : public BlockDevice {
public:
  RecordingBlockDevice(std::unique_ptr<BlockDevice> inner, uint64_t& writes,
                       uint64_t* syncs = nullptr)
      : Inner(std::move(inner)), Writes(writes), Syncs(syncs) {}
  uint64_t Size() const override { return Inner->Size(); }
  bool ReadOnly() const override { return Inner->ReadOnly(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    return Inner->ReadAt(offset, buffer, length);
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    ++Writes;
    return Inner->WriteAt(offset, data, length);
  }
  bool Sync() override {
    if (Syncs) ++*Syncs;
    return Inner->Sync();
  }

private:
  std::unique_ptr<BlockDevice> Inner;
  uint64_t& Writes;
  uint64_t* Syncs;
};

} // namespace quillo::test
