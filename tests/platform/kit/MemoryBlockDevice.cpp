// SPDX-License-Identifier: GPL-2.0-or-later
#include "MemoryBlockDevice.h"

#include <cstring>

namespace quillo::test {

MemoryBlockDevice::MemoryBlockDevice(std::vector<uint8_t> bytes, bool readOnly)
    : Bytes(std::move(bytes)), IsReadOnly(readOnly) {}

void MemoryBlockDevice::CutPowerAfter(uint64_t writes, std::function<void()> onCut) {
  CutAfter = writes;
  OnCut = std::move(onCut);
}

bool MemoryBlockDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset > Bytes.size() || length > Bytes.size() - offset) return false;
  std::memcpy(buffer, Bytes.data() + offset, length);
  return true;
}

bool MemoryBlockDevice::WriteAt(uint64_t offset, const void* data, size_t length) {
  if (IsReadOnly || offset > Bytes.size() || length > Bytes.size() - offset) return false;
  ++Writes;
  if (Writes > CutAfter) {
    if (!Cut && OnCut) OnCut();
    Cut = true;
    return true;
  }
  std::memcpy(Bytes.data() + offset, data, length);
  if (Logging) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    WriteLog.push_back({offset, std::vector<uint8_t>(bytes, bytes + length), Syncs});
  }
  return true;
}

bool MemoryBlockDevice::Sync() {
  ++Syncs;
  return true;
}

} // namespace quillo::test
