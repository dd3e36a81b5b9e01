// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "engine/VolumeDevice.h"

namespace quillo {

// The device of the NTFS volume on an image file or an unmounted partition,
// serving the volume name given ("C:"). Its undo journal is kept in
// <configuration folder>/journal. Null when the volume is refused, with
// `why` saying why in a sentence or two; nothing is written to a volume that
// is refused. Checks that the volume is not mounted are the caller's.
std::shared_ptr<VolumeDevice> OpenNtfsDevice(const std::string& volumeName,
                                             const std::filesystem::path& devicePath,
                                             std::string& why);

// Where the undo journals of NTFS volumes are kept.
std::filesystem::path NtfsJournalFolder();

} // namespace quillo
