// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <vector>

#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/ShadowCopyCatalog.h"

namespace quillo {

// A file's clusters on the volume seen as storage of their own: byte n of
// it is byte n of the file. Writes go straight to the volume, past the
// library, so they change the file's contents and nothing else.
class ExtentStorage final : public BlockStorage {
public:
  ExtentStorage(BlockStorage& volume, std::vector<ByteExtent> extents);

  int64_t ReadAt(uint64_t offset, void* data, size_t length) override;
  bool WriteAt(uint64_t offset, const void* data, size_t length) override;
  bool Sync() override { return Volume.Sync(); }
  // Its size is that of its clusters.
  bool Resize(uint64_t size) override { return size <= Bytes; }
  uint64_t Size() const override { return Bytes; }
  bool Writable() const override { return Volume.Writable(); }

  const std::vector<ByteExtent>& Extents() const { return Parts; }

private:
  static constexpr uint64_t kWalkFailed = ~uint64_t(0);
  // Calls `step(volume offset, bytes done, bytes to take)` for each piece of
  // [offset, offset + length) in turn; the bytes done, or kWalkFailed.
  template <typename Step>
  uint64_t Walk(uint64_t offset, size_t length, Step step) const;

  BlockStorage& Volume;
  std::vector<ByteExtent> Parts;
  uint64_t Bytes = 0;
};

} // namespace quillo
