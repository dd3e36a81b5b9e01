// SPDX-License-Identifier: GPL-2.0-or-later
// Opening the storage of a configured volume: the location's syntax, the
// partition window, and the checks that keep two users off one volume.
#pragma once

#include <memory>
#include <string>

#include "platform/DriveEnvironment.h"
#include "platform/FileBlockDevice.h"
#include "platform/VolumeSource.h"

namespace quillo {

// "/srv/disk.img#2" -> path "/srv/disk.img", partition 2; a location
// without a "#<number>" suffix is a whole device or image (partition 0).
struct VolumeLocation {
  std::string Path;
  int Partition = 0;
};
VolumeLocation ParseVolumeLocation(const std::string& text);

// Fills Path, Offset and Length of `source` from its Location. False with
// `why` when the file or the partition does not exist.
bool ResolveVolumeSource(VolumeSource& source, std::string& why);

// Where the block device or image of a location is mounted (the first
// mount point), or empty when it is not.
std::string MountPointOfLocation(const std::string& location, const DriveEnvironment& environment);

// Opens the storage for work: refused when a block device is mounted or
// held by another program (O_EXCL), or when an image is attached to a loop
// device, mounted, or locked by another process (flock). Falls back to a
// read-only opening when writing is not allowed, and says so in
// source.ReadOnly. Null with `why` on refusal.
std::unique_ptr<FileBlockDevice> OpenVolumeStorage(VolumeSource& source,
                                                   const DriveEnvironment& environment,
                                                   std::string& why);

// Opens the storage read-only and without locks, for a quick look at the
// boot sector or the free space.
std::unique_ptr<FileBlockDevice> ProbeVolumeStorage(const VolumeSource& source);

} // namespace quillo
