// SPDX-License-Identifier: GPL-2.0-or-later
// Why a target whose boot sector is neither FAT32 nor NTFS is refused, told
// as what it is: a partitioned disk (with its partitions, so the user can
// name one), a Windows dynamic disk, or a volume of another kind.
#pragma once

#include <string>

#include "platform/BlockDevice.h"
#include "platform/VolumeSource.h"

namespace quillo {

// `storage` is the target's window on source.Path; `bootSectorWhy` is what
// the boot sector check said, kept when nothing more can be told.
std::string ExplainUnrecognisedVolume(const VolumeSource& source, BlockDevice& storage,
                                      const std::string& bootSectorWhy);

} // namespace quillo
