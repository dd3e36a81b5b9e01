// SPDX-License-Identifier: GPL-2.0-or-later
// The raw bytes of a FAT directory (one or more clusters) as read from an
// untrusted volume: the entry parser, long names and their checksums, short
// names in the OEM code page, and the case-blind name folding lookups use.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/fat/DirectoryParser.h"
#include "platform/fat/NameFolding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillo::fat;
  using quillo::fuzz::Require;
  ParsedDirectory parsed = ParseDirectory(data, size);

  const size_t slots = size / kDirEntryBytes;
  bool first = true;
  uint32_t previousSlot = 0;
  for (const FatDirEntry& entry : parsed.Entries) {
    Require(entry.Slot < slots, "an entry's slot lies inside the bytes given");
    Require(first || entry.Slot > previousSlot, "entries come in slot order, each once");
    first = false;
    previousSlot = entry.Slot;
    Require(!(entry.IsDot && entry.IsDotDot), "an entry is \".\" or \"..\", not both");
    Require((entry.Attributes & kAttrVolumeId) == 0, "labels and long-name parts are no entries");
    Require(entry.Name.size() <= kMaxLongNameEntries * kLongNameCharsPerEntry,
            "a name is at most 20 long-name parts long");
    const std::u16string folded = FoldCase(entry.Name);
    Require(EqualFolded(entry.Name, folded) && FoldedHash(entry.Name) == FoldedHash(folded),
            "a name equals and hashes as its folded form");
  }
  return 0;
}
