// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ExtentStorage.h"

#include <algorithm>
#include <cerrno>

namespace quillo {

ExtentStorage::ExtentStorage(BlockStorage& volume, std::vector<ByteExtent> extents)
    : Volume(volume), Parts(std::move(extents)) {
  for (const ByteExtent& part : Parts) Bytes += part.Length;
}

int64_t ExtentStorage::ReadAt(uint64_t offset, void* data, size_t length) {
  auto* out = static_cast<uint8_t*>(data);
  uint64_t done = 0;
  uint64_t partStart = 0;
  for (const ByteExtent& part : Parts) {
    uint64_t at = offset + done;
    if (done == length) break;
    if (at < partStart + part.Length) {
      uint64_t within = at - partStart;
      uint64_t take = std::min<uint64_t>(part.Length - within, length - done);
      int64_t got = Volume.ReadAt(part.Offset + within, out + done, size_t(take));
      if (got < 0) return -1;
      done += uint64_t(got);
      if (uint64_t(got) < take) break;
    }
    partStart += part.Length;
  }
  return int64_t(done);
}

bool ExtentStorage::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (offset + length > Bytes) {
    errno = ENOSPC;
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(data);
  uint64_t done = 0;
  uint64_t partStart = 0;
  for (const ByteExtent& part : Parts) {
    uint64_t at = offset + done;
    if (done == length) break;
    if (at < partStart + part.Length) {
      uint64_t within = at - partStart;
      uint64_t take = std::min<uint64_t>(part.Length - within, length - done);
      if (!Volume.WriteAt(part.Offset + within, in + done, size_t(take))) return false;
      done += take;
    }
    partStart += part.Length;
  }
  return done == length;
}

} // namespace quillo
