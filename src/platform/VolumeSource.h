// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "platform/VolumeDescription.h"

namespace quillo {

// Where the storage of a volume served under a drive letter lies.
struct VolumeSource {
  std::string VolumeName; // "C:"
  std::string Location;   // as configured: "/dev/sdb1", "/srv/win.img", "/srv/disk.img#2"
  std::string Path;       // the block device or image file opened
  uint64_t Offset = 0;    // the volume's window on it, in bytes
  uint64_t Length = 0;
  bool ReadOnly = false;  // only reads were possible
  // The opening was refused only for want of the user's authorisation,
  // which it was not allowed to ask for.
  bool NeedsAuthorisation = false;
  // What the disk service told of the device it would not open then.
  VolumeDescription Described;
};

} // namespace quillo
