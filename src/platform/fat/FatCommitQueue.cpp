// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatCommitQueue.h"

namespace quillo::fat {

bool FatCommitQueue::Quarantined(uint32_t first, uint32_t count) const {
  auto at = Quarantine.lower_bound(first);
  return at != Quarantine.end() && uint64_t(*at) < uint64_t(first) + count;
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
  Quarantine.insert(cluster);
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
  for (uint32_t cluster : Released) Table.Stage(cluster, kFatFree);
  Links.clear();
  Released.clear();
  Quarantine.clear();
  BytesPending = 0;
  MovesPending = 0;
  return Table.Flush(Device);
}

} // namespace quillo::fat
