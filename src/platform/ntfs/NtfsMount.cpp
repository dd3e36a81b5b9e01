// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/NtfsMount.h"

#include <cerrno>
#include <cstring>

#include "platform/ntfs/LibraryLog.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

bool NtfsMount::Mount(bool writable, std::string& error) {
  Unmount();
  LibraryLog::Reset();
  ntfs_device* device = Device.NewDevice();
  if (!device) {
    error = std::string("cannot set up the device: ") + std::strerror(errno);
    return false;
  }
  Device.SetWrites(writable ? LibraryWrites::Hold : LibraryWrites::Refuse);
  ntfs_mount_flags flags = writable ? NTFS_MNT_FORENSIC : NTFS_MNT_RDONLY;
  ntfs_volume* volume = ntfs_device_mount(device, flags);
  if (!volume) {
    int reason = errno;
    ntfs_device_free(device);
    Device.Pending().Clear();
    std::string detail = LibraryLog::LastError();
    error = "libntfs-3g cannot open the volume: " +
            (detail.empty() ? std::string(std::strerror(reason)) : detail);
    return false;
  }
  if (writable && NVolReadOnly(volume)) {
    // The library fell back to read-only: its writes would report success
    // without writing anything.
    Device.SetWrites(LibraryWrites::Discard);
    ntfs_umount(volume, FALSE);
    Device.Pending().Clear();
    error = "libntfs-3g opened the volume read-only";
    return false;
  }
  if (ntfs_volume_get_free_space(volume) != 0) {
    int reason = errno;
    Device.SetWrites(LibraryWrites::Discard);
    ntfs_umount(volume, FALSE);
    Device.Pending().Clear();
    error = std::string("the cluster bitmap cannot be read: ") + std::strerror(reason);
    return false;
  }
  Mounted = volume;
  IsWritable = writable;
  return true;
}

void NtfsMount::Unmount() {
  if (!Mounted) return;
  LibraryWrites previous = Device.GetWrites();
  if (previous == LibraryWrites::Hold) Device.SetWrites(LibraryWrites::Discard);
  ntfs_umount(Mounted, FALSE);
  Mounted = nullptr;
  IsWritable = false;
  Device.Pending().Clear();
  Device.SetWrites(LibraryWrites::Refuse);
}

} // namespace quillo
