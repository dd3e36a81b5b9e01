// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/HandleTable.h"

namespace quillo {

Handle HandleTable::Add(const HandleEntry& entry) {
  size_t index;
  if (FreeSlots.empty()) {
    index = Slots.size();
    Slots.emplace_back();
  } else {
    index = FreeSlots.back();
    FreeSlots.pop_back();
  }
  Slots[index] = {entry, true};
  return kFirstHandle + Handle(index);
}

HandleEntry* HandleTable::Find(Handle handle) {
  if (handle < kFirstHandle) return nullptr;
  size_t index = size_t(handle - kFirstHandle);
  if (index >= Slots.size() || !Slots[index].Open) return nullptr;
  return &Slots[index].Entry;
}

void HandleTable::Remove(Handle handle) {
  if (!Find(handle)) return;
  size_t index = size_t(handle - kFirstHandle);
  Slots[index].Open = false;
  FreeSlots.push_back(index);
}

} // namespace quillo
