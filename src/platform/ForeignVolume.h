// SPDX-License-Identifier: GPL-2.0-or-later
// What users point the tool at that is not FAT32 or NTFS, told by name so a
// refusal can say what it is and what to do about it.
#pragma once

#include <optional>
#include <string>

#include "platform/BlockDevice.h"

namespace quillo {

struct ForeignVolume {
  std::string Name; // short, for a partition list: "exFAT", "FAT16", "LVM PV"
  std::string Why;  // the whole refusal
};

// exFAT and BitLocker by their OEM ids, FAT12 and FAT16 by their cluster
// count, an LVM physical volume by its label in one of the first four
// sectors, a Windows dynamic disk by its LDM database header ("PRIVHEAD")
// in sector 6 or the last sector. Empty when it is none of them.
std::optional<ForeignVolume> IdentifyForeignVolume(BlockDevice& device);

} // namespace quillo
