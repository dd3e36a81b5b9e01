// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

// The checks a read-write mount of libntfs-3g would make, which this program
// makes itself because it mounts with NTFS_MNT_FORENSIC (a mount that writes
// nothing): hibernation, Fast Startup, a $LogFile with unfinished
// transactions, the dirty flag. Empty when the volume was shut down cleanly,
// otherwise the sentence to show. Such a volume may be read (what is read
// may be out of date) but never written.
std::string CheckCleanShutdown(ntfs_volume* volume);

} // namespace quillo
