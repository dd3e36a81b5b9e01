// SPDX-License-Identifier: GPL-2.0-or-later
// An image held in memory that can lose power after a given number of
// writes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/BlockDevice.h"

namespace quillo::test {

// An image in memory. With a cut point k, the writes from the (k+1)-th on
// are dropped as a power cut would drop them: the caller is told they
// succeeded, and the image keeps what the first k writes made of it.
class MemoryBlockDevice final : public BlockDevice {
public:
  explicit MemoryBlockDevice(std::vector<uint8_t> bytes, bool readOnly = false);

  // Writes after the first `writes` are lost; `onCut` runs once, at the
  // first lost write.
  void CutPowerAfter(uint64_t writes, std::function<void()> onCut = {});
  // What runs at the first lost write, set once its owner exists.
  void SetCutCallback(std::function<void()> onCut) { OnCut = std::move(onCut); }

  uint64_t Size() const override { return Bytes.size(); }
  bool ReadOnly() const override { return IsReadOnly; }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override;
  bool WriteAt(uint64_t offset, const void* data, size_t length) override;
  bool Sync() override;

  // Every write that reached the image, with the number of syncs before it.
  struct LoggedWrite {
    uint64_t Offset = 0;
    std::vector<uint8_t> Data;
    uint64_t Epoch = 0;
  };
  void KeepLog() { Logging = true; }
  const std::vector<LoggedWrite>& Log() const { return WriteLog; }

  const std::vector<uint8_t>& Image() const { return Bytes; }
  // Writes asked for, lost ones included.
  uint64_t WriteCount() const { return Writes; }
  uint64_t SyncCount() const { return Syncs; }
  bool PowerCut() const { return Cut; }

private:
  std::vector<uint8_t> Bytes;
  bool IsReadOnly;
  uint64_t Writes = 0;
  uint64_t Syncs = 0;
  uint64_t CutAfter = UINT64_MAX;
  bool Logging = false;
  std::vector<LoggedWrite> WriteLog;
  bool Cut = false;
  std::function<void()> OnCut;
};

} // namespace quillo::test
