// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <string>

#include "engine/VolumeDevice.h"

namespace quillo {

// Hands out the device that serves a volume name ("C:"). The drive table is
// the platform's provider; tests and the demo provide in-memory volumes.
class VolumeProvider {
public:
  virtual ~VolumeProvider() = default;
  // Null when the letter names no usable volume; `why` then says why
  // (mounted, unsupported file system, no permission, corrupt, ...).
  virtual std::shared_ptr<VolumeDevice> OpenDevice(const std::string& volumeName,
                                                   std::string& why) = 0;
  // Whether the volume's file system can be told without opening the volume
  // for work. Tells a refused volume (mounted, locked, busy) from one whose
  // file system is unknown. A provider that cannot look says true.
  virtual bool CanTellFileSystem(const std::string& volumeName) {
    (void)volumeName;
    return true;
  }
};

} // namespace quillo
