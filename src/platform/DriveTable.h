// SPDX-License-Identifier: GPL-2.0-or-later
// The Linux stand-in for drive letters: which letter names which volume
// (drives.ini, then the block devices found holding FAT32 or NTFS), and the
// platform calls the volume list asks of letters: the logical drive
// strings, the drive type, the volume information and the free space.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/VolumeDevice.h"
#include "engine/VolumeProvider.h"
#include "platform/DeviceDiscovery.h"
#include "platform/DriveEnvironment.h"
#include "platform/RefusalSummary.h"
#include "platform/VolumeSource.h"

namespace quillo {

class DriveTable final : public VolumeProvider {
public:
  struct Drive {
    char Letter = 0;
    std::string Location; // as configured, or the discovered device
    bool Discovered = false;
    // Known when the desktop's disk service named the device.
    std::string Label;
    std::string Model;
    // What discovery found on the device ("FAT32", "NTFS", "ext4"); empty
    // for a volume drives.ini names. A discovered volume of another file
    // system is listed, and refused with the reason.
    std::string FileSystem;
    uint64_t SizeBytes = 0; // the discovered device's, when known
  };

  // Reads the configuration and discovers devices (see Refresh).
  explicit DriveTable(DriveEnvironment environment);

  // Reads drives.ini again and looks for block devices again (when the
  // environment asks for discovery), giving each newly found volume the
  // letter it had before, or the next free one from C upward.
  void Refresh();

  std::vector<Drive> Drives() const;
  // Problems with the configuration met by the last refresh.
  std::vector<std::string> Warnings() const;
  // The letter drives.ini gives the Windows system volume ("system=C"); 0
  // when it names none. The letter need not be in the table.
  char SystemLetter() const;

  // What a list shows of a letter's volume besides the letter.
  struct Description {
    std::string Location; // the device or image, as configured or found
    std::string Label;
    std::string Model;    // the drive's, where known
    // What discovery found on the device ("ext4"), and the device's size;
    // empty and 0 for a volume drives.ini names.
    std::string FileSystem;
    uint64_t SizeBytes = 0;
  };
  // Read without opening the volume for work; empty for an unknown letter.
  Description Describe(const std::string& volumeName);
  // A few words about why the volume of a letter cannot be used, from the
  // full reason OpenDevice gave ("image missing", "not FAT32 or NTFS (ext4)").
  RefusalSummary BriefRefusal(const std::string& volumeName, const std::string& why) const;

  // Adds an image, or partition N of a disk image ("disk.img#2"), to
  // drives.ini under the first free letter from C, and looks again. The
  // letter, or 0 with `why` (no such file or partition, already listed, no
  // letter left, the file cannot be written).
  char AddImage(const std::string& location, std::string& why);
  // Whether drives.ini names the letter (a discovered device is not taken
  // off that way).
  bool IsConfigured(char letter) const;
  // Takes a letter drives.ini names off it, and looks again.
  bool RemoveConfigured(char letter, std::string& why);

  // The block device behind a letter whose user has not yet said to write
  // to it without asking; empty for images, unknown letters and devices
  // confirmed once for all.
  std::string DeviceToConfirm(char letter) const;
  // Remembers in drives.ini not to ask again for the letter's device.
  bool ConfirmWrites(char letter, std::string& why);

  // GetLogicalDriveStrings: "C:\", "D:\", ... each followed by a NUL, and a
  // final NUL.
  std::string LogicalDriveStrings() const;
  // GetDriveType: fixed (3) for every volume of the table, "no root
  // directory" (1) for any other letter.
  uint32_t GetDriveType(const std::string& rootPath) const;
  // GetVolumeInformationA: the file-system name ("FAT32" or "NTFS") from the
  // boot sector; false when neither can be read or the name does not fit.
  bool GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                            VolumeInformation& out);
  // GetDiskFreeSpaceExA.
  bool GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out);

  // The device of a letter ("C:"), opened for work: mounted or busy volumes
  // are refused. While a device is in use the same one is handed out again.
  // It holds the volume until the last volume handle opened on it closes,
  // and opens it again with the next one (HeldVolume).
  std::shared_ptr<VolumeDevice> OpenDevice(const std::string& volumeName,
                                           std::string& why) override;
  // The same; with `evenMounted` a mounted volume is handed out too, for
  // queries only until it is unmounted: every opening for work is refused
  // while it is mounted, and none holds it before. Without `mayPrompt` the
  // device is opened without asking the user (a window coming up at
  // log-on); one that only the user's authorisation opens is handed out
  // all the same, not held and described as the disk service tells of it,
  // and the first opening of a command that may prompt opens it.
  std::shared_ptr<VolumeDevice> OpenDevice(const std::string& volumeName, std::string& why,
                                           bool evenMounted, bool mayPrompt = true);
  // Where a letter's volume is mounted; empty when it is not (or unknown).
  std::string MountPointOf(char letter) const;
  // True when the boot sector names FAT32 or NTFS, read without opening the
  // volume for work.
  bool CanTellFileSystem(const std::string& volumeName) override;

private:
  struct Entry {
    Drive Info;
    std::weak_ptr<VolumeDevice> Device;
  };

  // The entry of "C:" or "C:\", or null.
  const Entry* Find(const std::string& path) const;
  Entry* Find(const std::string& path) {
    return const_cast<Entry*>(static_cast<const DriveTable*>(this)->Find(path));
  }
  VolumeSource SourceOf(const Entry& entry) const;
  // The block devices that hold FAT32 or NTFS: from the disk service when
  // it is asked and answers, else from sysfs.
  std::vector<DiscoveredVolume> Discover() const;
  // The device in use for a letter, or one opened read-only for a query.
  std::shared_ptr<VolumeDevice> DeviceForQuery(Entry& entry);

  mutable std::mutex Lock;
  DriveEnvironment Environment;
  std::vector<Entry> Entries; // in letter order
  std::vector<std::string> Problems;
  char System = 0;
};

} // namespace quillo
