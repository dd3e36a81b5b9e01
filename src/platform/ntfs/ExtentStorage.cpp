// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ExtentStorage.h"

#include <algorithm>
#include <cerrno>

namespace quillo {

ExtentStorage::ExtentStorage(BlockStorage& volume, std::vector<ByteExtent> extents)
    : Volume(volume), Parts(std::move(extents)) {
  for (const ByteExtent& part : Parts) Bytes += part.Length;
}

template <typename Step>
uint64_t ExtentStorage::Walk(uint64_t offset, size_t length, Step step) const {
  uint64_t done = 0;
  uint64_t partStart = 0;
  for (const ByteExtent& part : Parts) {
    if (done == length) break;
    uint64_t at = offset + done;
    if (at < partStart + part.Length) {
      uint64_t within = at - partStart;
      uint64_t take = std::min<uint64_t>(part.Length - within, length - done);
      // The bytes the volume moved; fewer than `take` ends the walk.
      int64_t moved = step(part.Offset + within, done, take);
      if (moved < 0) return kWalkFailed;
      done += uint64_t(moved);
      if (uint64_t(moved) < take) break;
    }
    partStart += part.Length;
  }
  return done;
}

int64_t ExtentStorage::ReadAt(uint64_t offset, void* data, size_t length) {
  auto* out = static_cast<uint8_t*>(data);
  uint64_t done = Walk(offset, length, [&](uint64_t at, uint64_t into, uint64_t take) {
    return Volume.ReadAt(at, out + into, size_t(take));
  });
  return done == kWalkFailed ? -1 : int64_t(done);
}

bool ExtentStorage::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (offset + length > Bytes) {
    errno = ENOSPC;
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(data);
  uint64_t done = Walk(offset, length, [&](uint64_t at, uint64_t into, uint64_t take) {
    return Volume.WriteAt(at, in + into, size_t(take)) ? int64_t(take) : int64_t(-1);
  });
  return done == length;
}

} // namespace quillo
