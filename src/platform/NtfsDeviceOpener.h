// SPDX-License-Identifier: GPL-2.0-or-later
// The point where the drive table hands an NTFS volume to the NTFS device.
#pragma once

#include <memory>
#include <string>

#include "engine/VolumeDevice.h"
#include "platform/BlockDevice.h"
#include "platform/VolumeSource.h"

namespace quillo {

// Serves the NTFS volume of `source`. `storage` is the source's window,
// already opened with the drive table's locks (O_EXCL on a block device,
// flock on an image); whatever serves the volume keeps it alive for as long
// as it does, so that the locks hold. Null when the volume cannot be
// served; `why` then says why.
std::shared_ptr<VolumeDevice> OpenNtfsDevice(const VolumeSource& source,
                                             std::unique_ptr<BlockDevice> storage,
                                             std::string& why);

} // namespace quillo
