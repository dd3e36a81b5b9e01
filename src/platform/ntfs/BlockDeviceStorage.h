// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>

#include "platform/BlockDevice.h"
#include "platform/ntfs/BlockStorage.h"

namespace quillo {

// The drive table's storage of a volume (opened with its locks) as the
// NTFS device's storage. Reads that reach past the end come back short, as
// libntfs-3g expects of a device.
class BlockDeviceStorage final : public BlockStorage {
public:
  explicit BlockDeviceStorage(std::unique_ptr<BlockDevice> device) : Device(std::move(device)) {}

  int64_t ReadAt(uint64_t offset, void* data, size_t length) override;
  bool ReadPieces(std::span<const ReadPiece> pieces) override { return Device->ReadPieces(pieces); }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    return Device->WriteAt(offset, data, length);
  }
  bool Sync() override { return Device->Sync(); }
  void StartWriteBack() override { Device->StartWriteBack(); }
  // A volume keeps its size.
  bool Resize(uint64_t) override { return false; }
  uint64_t Size() const override { return Device->Size(); }
  bool Writable() const override { return !Device->ReadOnly(); }

private:
  std::unique_ptr<BlockDevice> Device;
};

} // namespace quillo
