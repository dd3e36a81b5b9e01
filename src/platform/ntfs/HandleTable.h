// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/VolumeDevice.h"

namespace quillo {

// What a handle of the NTFS device stands for.
struct HandleEntry {
  bool IsVolume = false;
  bool Attached = false; // holds a use of the file's OpenFile (its inode)
  bool Directory = false;
  uint16_t Sequence = 0;
  uint64_t Record = 0;
  std::u16string Stream; // a named data stream of the file; empty: the file itself
};

// Handles in slots: an analysis opens and closes files hundreds of thousands
// of times, so a handle costs no allocation once the table has grown.
class HandleTable {
public:
  Handle Add(const HandleEntry& entry);
  // Null for a handle that is not open.
  HandleEntry* Find(Handle handle);
  void Remove(Handle handle);

private:
  static constexpr Handle kFirstHandle = 100;
  struct Slot {
    HandleEntry Entry;
    bool Open = false;
  };
  std::vector<Slot> Slots;
  std::vector<size_t> FreeSlots;
};

} // namespace quillo
