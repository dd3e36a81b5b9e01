// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <string>

#include "engine/VolumeDevice.h"
#include "platform/BlockDevice.h"
#include "platform/VolumeSource.h"

namespace quillo {

// Serves the volume on `storage` with the device of its file system, chosen
// by its boot sector: FAT32 here, NTFS through OpenNtfsDevice. Null when
// the volume cannot be served; `why` then says why.
std::shared_ptr<VolumeDevice> OpenVolumeDevice(const VolumeSource& source,
                                               std::unique_ptr<BlockDevice> storage,
                                               std::string& why);

} // namespace quillo
