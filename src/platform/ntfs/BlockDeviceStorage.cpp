// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/BlockDeviceStorage.h"

#include <algorithm>

namespace quillo {

int64_t BlockDeviceStorage::ReadAt(uint64_t offset, void* data, size_t length) {
  uint64_t size = Device->Size();
  if (offset >= size) return 0;
  size_t take = size_t(std::min<uint64_t>(length, size - offset));
  return Device->ReadAt(offset, data, take) ? int64_t(take) : -1;
}

} // namespace quillo
