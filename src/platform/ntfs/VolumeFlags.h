// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

// Writes the flags word of $Volume's $VOLUME_INFORMATION exactly as given.
// The library's own writer masks the word to the bits it knows, which would
// clear bits Windows sets (0x0080 on Windows 10, for one); every bit must
// come back as it was when a write session ends. The record is written
// through the mount's device like any other change. False with `error` when
// the attribute cannot be found or the record cannot be written.
bool WriteVolumeFlags(ntfs_volume* volume, uint16_t flags, std::string& error);

} // namespace quillo
