// SPDX-License-Identifier: GPL-2.0-or-later
// Builds without an NTFS device refuse NTFS volumes here; the NTFS device's
// own definition of OpenNtfsDevice takes the place of this file.
#include "platform/NtfsDeviceOpener.h"

namespace quillo {

std::shared_ptr<VolumeDevice> OpenNtfsDevice(const VolumeSource&, std::unique_ptr<BlockDevice>,
                                             std::string& why) {
  why = "NTFS volumes are not supported by this build";
  return nullptr;
}

} // namespace quillo
