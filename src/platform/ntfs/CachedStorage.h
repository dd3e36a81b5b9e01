// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ntfs/BlockStorage.h"

namespace quillo {

// Keeps the blocks behind small reads and metadata reads. libntfs-3g reads
// its bitmaps a byte at a time and MFT records one by one, and the MFT's
// bitmap is read again after each move; each of those was a system call.
// File data and large reads pass straight through.
//
// The cache is coherent only because every write of this process to the
// volume goes through this object: a write updates the cached blocks it
// covers once the storage below has taken it, and a failed write drops them,
// since what they hold is then unknown.
class CachedStorage final : public BlockStorage {
public:
  static constexpr size_t kBlockBytes = 4096;
  static constexpr size_t kDefaultBlocks = 2048; // 8 MiB
  // Larger metadata reads (batches of MFT records) are read once in order.
  static constexpr size_t kLargestCachedRead = 64 * 1024;

  explicit CachedStorage(std::unique_ptr<BlockStorage> inner, size_t capacityBlocks = kDefaultBlocks);

  int64_t ReadAt(uint64_t offset, void* data, size_t length) override;
  int64_t ReadMetadataAt(uint64_t offset, void* data, size_t length) override;
  // Writes go through to the storage below, so it is never behind the
  // cache.
  bool ReadPieces(std::span<const ReadPiece> pieces) override { return Inner->ReadPieces(pieces); }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override;
  bool Sync() override { return Inner->Sync(); }
  void StartWriteBack() override { Inner->StartWriteBack(); }
  bool Resize(uint64_t size) override;
  uint64_t Size() const override { return Inner->Size(); }
  bool Writable() const override { return Inner->Writable(); }

  uint64_t Misses() const { return MissCount; }

private:
  struct Block {
    std::vector<uint8_t> Bytes; // short at the end of the storage
    std::list<uint64_t>::iterator Use;
  };
  const Block* Fetch(uint64_t number);
  int64_t ReadCached(uint64_t offset, void* data, size_t length);
  void Forget(uint64_t first, uint64_t last);

  std::unique_ptr<BlockStorage> Inner;
  size_t Capacity;
  std::mutex Lock;
  std::map<uint64_t, Block> Blocks; // by block number
  std::list<uint64_t> Uses;         // most recently used first
  uint64_t MissCount = 0;
};

} // namespace quillo
