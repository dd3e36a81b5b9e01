// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatCommitQueue.h"

#include <algorithm>

namespace quillo::fat {

bool FatCommitQueue::Quarantined(uint32_t first, uint32_t count) const {
  uint64_t end = std::min<uint64_t>(uint64_t(first) + count, Quarantine.size());
  for (uint64_t cluster = first; cluster < end; ++cluster)
    if (Quarantine[cluster]) return true;
  return false;
}

void FatCommitQueue::SwitchFatLink(uint32_t cluster, uint32_t value) {
  Table.Defer(cluster, value);
  Links.push_back({cluster, value});
}

void FatCommitQueue::SwitchEntry(uint64_t offset, const DirEntry& entry) {
  Device.Hold(offset, entry, HoldingBlockDevice::kLinkStage);
}

void FatCommitQueue::FollowEntry(uint64_t offset, const DirEntry& entry) {
  Device.Hold(offset, entry, HoldingBlockDevice::kFollowStage);
}

void FatCommitQueue::Release(uint32_t cluster) {
  Table.Defer(cluster, kFatFree);
  Released.push_back(cluster);
  if (cluster >= Quarantine.size()) Quarantine.resize(size_t(cluster) + 1);
  Quarantine[cluster] = true;
}

void FatCommitQueue::Moved(uint64_t bytes) {
  BytesPending += bytes;
  ++MovesPending;
}

bool FatCommitQueue::Commit() {
  if (!Pending()) return true;
  // 1. Data and new chains.
  if (!Table.Flush(Device) || !Device.Sync()) return false;
  // 2. The links, in the order the moves made them (a later switch of the
  // same entry wins).
  for (auto [cluster, value] : Links) Table.Stage(cluster, value);
  if (!Device.Release(HoldingBlockDevice::kLinkStage) || !Table.Flush(Device) || !Device.Sync())
    return false;
  // 3. Subdirectories name their moved parent only once it is in place.
  if (Device.HasHeld(HoldingBlockDevice::kFollowStage) &&
      (!Device.Release(HoldingBlockDevice::kFollowStage) || !Device.Sync()))
    return false;
  // 4. The old clusters.
  for (uint32_t cluster : Released) {
    Table.Stage(cluster, kFatFree);
    Quarantine[cluster] = false;
  }
  Links.clear();
  Released.clear();
  BytesPending = 0;
  MovesPending = 0;
  return Table.Flush(Device);
}

} // namespace quillo::fat
