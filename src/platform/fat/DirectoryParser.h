// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fat/Definitions.h"

namespace quillo::fat {

// One entry of a directory as the listing shows it.
struct FatDirEntry {
  std::u16string Name;      // the long name, or else the short name
  std::u16string ShortName; // the 8.3 name, "README.TXT"
  uint8_t Attributes = 0;
  uint32_t FirstCluster = 0;
  uint32_t Size = 0;
  uint16_t WriteTime = 0;
  uint16_t WriteDate = 0;
  uint32_t Slot = 0; // index of the short entry, in 32-byte slots from the directory's start
  bool IsDot = false;    // "."
  bool IsDotDot = false; // ".."

  bool IsDirectory() const { return (Attributes & kAttrDirectory) != 0; }
};

struct ParsedDirectory {
  std::vector<FatDirEntry> Entries;
  std::u16string VolumeLabel; // the root's label entry, when there is one
};

// Reads the entries of a directory's raw bytes up to the end marker.
// Deleted entries, long-name parts and volume labels are not entries of
// their own; a long name is taken only when its parts are complete, in
// order and carry the checksum of the short entry that follows them.
ParsedDirectory ParseDirectory(const uint8_t* data, size_t length);

// The short name as Windows shows it: blanks dropped, the dot only before an
// extension, and lower case where the NT flags ask for it.
std::u16string FormatShortName(const DirEntry& entry);

} // namespace quillo::fat
