// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/CachedStorage.h"

#include <algorithm>
#include <cstring>

namespace quillo {

CachedStorage::CachedStorage(std::unique_ptr<BlockStorage> inner, size_t capacityBlocks)
    : Inner(std::move(inner)), Capacity(std::max<size_t>(capacityBlocks, 1)) {}

const CachedStorage::Block* CachedStorage::Fetch(uint64_t number) {
  auto it = Blocks.find(number);
  if (it != Blocks.end()) {
    Uses.splice(Uses.begin(), Uses, it->second.Use);
    return &it->second;
  }
  ++MissCount;
  std::vector<uint8_t> bytes(kBlockBytes);
  int64_t got = Inner->ReadAt(number * kBlockBytes, bytes.data(), kBlockBytes);
  if (got < 0) return nullptr;
  bytes.resize(size_t(got));
  if (Blocks.size() >= Capacity) {
    Blocks.erase(Uses.back());
    Uses.pop_back();
  }
  Uses.push_front(number);
  return &Blocks.emplace(number, Block{std::move(bytes), Uses.begin()}).first->second;
}

int64_t CachedStorage::ReadAt(uint64_t offset, void* data, size_t length) {
  size_t within = size_t(offset % kBlockBytes);
  if (length == 0 || length >= kBlockBytes || within + length > kBlockBytes)
    return Inner->ReadAt(offset, data, length);
  return ReadCached(offset, data, length);
}

int64_t CachedStorage::ReadMetadataAt(uint64_t offset, void* data, size_t length) {
  if (length == 0 || length > kLargestCachedRead) return Inner->ReadAt(offset, data, length);
  return ReadCached(offset, data, length);
}

int64_t CachedStorage::ReadCached(uint64_t offset, void* data, size_t length) {
  std::lock_guard<std::mutex> guard(Lock);
  auto* out = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    uint64_t at = offset + done;
    size_t within = size_t(at % kBlockBytes);
    const Block* block = Fetch(at / kBlockBytes);
    if (!block) return -1;
    if (within >= block->Bytes.size()) break; // the end of the storage
    size_t take = std::min(length - done, block->Bytes.size() - within);
    std::memcpy(out + done, block->Bytes.data() + within, take);
    done += take;
  }
  return int64_t(done);
}

void CachedStorage::Forget(uint64_t first, uint64_t last) {
  for (auto it = Blocks.lower_bound(first); it != Blocks.end() && it->first <= last;) {
    Uses.erase(it->second.Use);
    it = Blocks.erase(it);
  }
}

bool CachedStorage::WriteAt(uint64_t offset, const void* data, size_t length) {
  std::lock_guard<std::mutex> guard(Lock);
  if (length == 0) return Inner->WriteAt(offset, data, length);
  uint64_t first = offset / kBlockBytes;
  uint64_t last = (offset + length - 1) / kBlockBytes;
  if (!Inner->WriteAt(offset, data, length)) {
    Forget(first, last);
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(data);
  uint64_t end = offset + length;
  for (auto it = Blocks.lower_bound(first); it != Blocks.end() && it->first <= last;) {
    std::vector<uint8_t>& bytes = it->second.Bytes;
    if (bytes.size() < kBlockBytes) {
      // Cut short by the end of the storage: read afresh after a write.
      Uses.erase(it->second.Use);
      it = Blocks.erase(it);
      continue;
    }
    uint64_t blockStart = it->first * kBlockBytes;
    uint64_t from = std::max(blockStart, offset);
    uint64_t to = std::min(blockStart + kBlockBytes, end);
    std::memcpy(bytes.data() + (from - blockStart), in + (from - offset), to - from);
    ++it;
  }
  return true;
}

bool CachedStorage::Resize(uint64_t size) {
  std::lock_guard<std::mutex> guard(Lock);
  Blocks.clear();
  Uses.clear();
  return Inner->Resize(size);
}

} // namespace quillo
