// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include "engine/VolumeDevice.h"

namespace quillo::fat {

// Open handles in reusable slots. A handle carries its slot and the slot's
// generation, so a handle that was closed stays invalid after its slot has
// been given to another opening.
template <typename Entry> class HandleTable {
public:
  Handle Add(Entry entry) {
    uint32_t slot;
    if (!FreeSlots.empty()) {
      slot = FreeSlots.back();
      FreeSlots.pop_back();
    } else {
      slot = uint32_t(Slots.size());
      Slots.emplace_back();
    }
    Slot& at = Slots[slot];
    at.InUse = true;
    at.Value = std::move(entry);
    return kFirstHandle + (Handle(at.Generation) << kSlotBits) + Handle(slot);
  }

  Entry* Find(Handle handle) {
    if (handle < kFirstHandle) return nullptr;
    uint64_t value = uint64_t(handle - kFirstHandle);
    uint64_t slot = value & kSlotMask;
    if (slot >= Slots.size()) return nullptr;
    Slot& at = Slots[slot];
    if (!at.InUse || at.Generation != (value >> kSlotBits)) return nullptr;
    return &at.Value;
  }

  void Remove(Handle handle) {
    if (!Find(handle)) return;
    uint32_t slot = uint32_t(uint64_t(handle - kFirstHandle) & kSlotMask);
    Slot& at = Slots[slot];
    at.InUse = false;
    at.Value = Entry{};
    ++at.Generation;
    FreeSlots.push_back(slot);
  }

  // Calls visit(entry) for every open handle.
  template <typename Visitor> void ForEach(Visitor&& visit) {
    for (Slot& at : Slots)
      if (at.InUse) visit(at.Value);
  }

private:
  static constexpr Handle kFirstHandle = 100;
  static constexpr unsigned kSlotBits = 24;
  static constexpr uint64_t kSlotMask = (uint64_t(1) << kSlotBits) - 1;

  struct Slot {
    bool InUse = false;
    uint64_t Generation = 0;
    Entry Value{};
  };
  std::vector<Slot> Slots;
  std::vector<uint32_t> FreeSlots;
};

} // namespace quillo::fat
