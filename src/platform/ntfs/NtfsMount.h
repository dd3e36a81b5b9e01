// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

#include "platform/ntfs/LibraryDevice.h"

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

// One libntfs-3g mount of the volume behind a LibraryDevice: read-only for
// analysis, or writable (its writes held by the device) for a write session.
class NtfsMount {
public:
  explicit NtfsMount(LibraryDevice& device) : Device(device) {}
  ~NtfsMount() { Unmount(); }
  NtfsMount(const NtfsMount&) = delete;
  NtfsMount& operator=(const NtfsMount&) = delete;

  // A writable mount uses NTFS_MNT_FORENSIC, which writes nothing while
  // mounting; the checks that such a mount skips are the caller's
  // (CheckCleanShutdown). On failure `error` says why.
  bool Mount(bool writable, std::string& error);
  // Writes the library makes while letting go are dropped: whatever has to
  // reach the volume was committed before.
  void Unmount();

  ntfs_volume* Volume() const { return Mounted; }
  bool Writable() const { return Mounted && IsWritable; }

private:
  LibraryDevice& Device;
  ntfs_volume* Mounted = nullptr;
  bool IsWritable = false;
};

} // namespace quillo
