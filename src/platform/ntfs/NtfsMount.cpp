// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/NtfsMount.h"

#include <cerrno>
#include <cstring>

#include "platform/ntfs/LibraryLog.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

constexpr s64 kBitsPerByte = 8;

// The size fields of the MFT, its bitmap and the cluster bitmap, held against
// the volume before the library scans by them: a damaged size makes it read
// (or, past the initialised part, count zeros) for hours. Empty when sound.
std::string CheckSizeFields(const ntfs_volume* volume) {
  s64 volumeBytes = volume->nr_clusters * s64(volume->cluster_size);
  auto fits = [&](const ntfs_attr* attribute) {
    return attribute && attribute->data_size >= 0 && attribute->initialized_size >= 0 &&
           attribute->initialized_size <= attribute->data_size &&
           (!NAttrNonResident(attribute) || attribute->data_size <= attribute->allocated_size) &&
           attribute->allocated_size <= volumeBytes;
  };
  if (!fits(volume->mft_na)) return "the size fields of $MFT's data do not fit the volume";
  if (!fits(volume->mftbmp_na)) return "the size fields of $MFT's bitmap do not fit the volume";
  if (!fits(volume->lcnbmp_na)) return "the size fields of $Bitmap do not fit the volume";
  // A bit for each record the volume could hold at most.
  s64 mostRecords = volumeBytes / s64(volume->mft_record_size);
  if (volume->mftbmp_na->data_size > mostRecords / kBitsPerByte + kBitsPerByte)
    return "$MFT's bitmap (" + std::to_string(volume->mftbmp_na->data_size) +
           " bytes) is larger than the records the volume can hold";
  if (volume->lcnbmp_na->data_size * kBitsPerByte < volume->nr_clusters)
    return "$Bitmap (" + std::to_string(volume->lcnbmp_na->data_size) + " bytes) is shorter than " +
           std::to_string(volume->nr_clusters) + " clusters";
  return {};
}

} // namespace

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
  if (std::string sizes = CheckSizeFields(volume); !sizes.empty()) {
    Device.SetWrites(LibraryWrites::Discard);
    ntfs_umount(volume, FALSE);
    Device.Pending().Clear();
    error = sizes;
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
