// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/VolumeProvider.h"

namespace quillo {

// The machine's volumes as the volume list sees them: the drive strings, the
// type of each drive, and the device behind a volume name (VolumeProvider).
// The drive table is the real one; tests list in-memory volumes.
class VolumeCatalog : public VolumeProvider {
public:
  // What the list tells of a volume besides its letter, in its tooltip.
  struct Description {
    std::string Location; // the device or image behind the letter
    std::string Label;
    std::string Model;    // the drive's, where known
    // What the catalog knows without reading the volume (a discovered
    // device's file system and size), shown for one that cannot be used;
    // empty and 0 when it knows nothing so.
    std::string FileSystem;
    uint64_t SizeBytes = 0;
  };

  // Every root the machine names ("C:\", "D:\", ...), in drive-string order,
  // read afresh at each call.
  virtual std::vector<std::string> LogicalDriveStrings() = 0;
  // GetDriveType of a root: kDriveFixed for fixed disks and images.
  virtual uint32_t DriveType(const std::string& root) = 0;
  // Looks for volumes again (devices plugged in or out, the drive table
  // edited) before the drive strings are read anew.
  virtual void Rescan() {}
  // A file whose changes add or remove volumes (the drive table's
  // drives.ini); empty when there is none.
  virtual std::filesystem::path WatchedFile() { return {}; }
  // Where a root's volume lies, its label and drive; read without taking
  // the volume. Empty when the catalog cannot tell.
  virtual Description Describe(const std::string& root) {
    (void)root;
    return {};
  }
  // A few words for the status column of a volume that cannot be used,
  // from the full reason OpenDevice gave, and whether the obstacle may go
  // by itself (busy, mounted), so that the volume is looked at again.
  struct Refusal {
    std::string Brief;
    bool Passing = false;
  };
  virtual Refusal BriefRefusal(const std::string& root, const std::string& why) {
    (void)root;
    return {why};
  }
  // Adds an image, or a partition of one ("disk.img#2"), to the drive
  // table; false with `why` when the catalog cannot or will not.
  virtual bool AddImage(const std::string& location, std::string& why) {
    (void)location;
    why = "volumes cannot be added here";
    return false;
  }
  // Whether Remove can take a root's volume off the drive table.
  virtual bool CanRemove(const std::string& root) {
    (void)root;
    return false;
  }
  virtual bool Remove(const std::string& root, std::string& why) {
    (void)root;
    why = "volumes cannot be removed here";
    return false;
  }
  // The partitions of a disk image, for the choice of one ("#1 FAT32
  // 64 MiB" with its number); empty for an image of one volume.
  struct ImagePartition {
    int Number = 0;
    std::string Text;
  };
  virtual std::vector<ImagePartition> PartitionsOf(const std::string& image) {
    (void)image;
    return {};
  }
  // The block device (not an image) behind a root that the user has not
  // yet agreed to write to; empty when no question is due.
  virtual std::string DeviceToConfirm(const std::string& root) {
    (void)root;
    return {};
  }
  // The user said not to be asked again for the root's device.
  virtual void ConfirmWrites(const std::string& root) { (void)root; }
  // Where a root's volume is mounted; empty when it is not.
  virtual std::string MountPoint(const std::string& root) {
    (void)root;
    return {};
  }
  // Unmounts a root's volume for the work, on the user's word; false with
  // the reason it stays mounted (the disk service's own, e.g. files open).
  virtual bool Unmount(const std::string& root, std::string& why) {
    (void)root;
    why = "volumes cannot be unmounted here";
    return false;
  }
  // Mounts again what Unmount unmounted; the new place, or false with why.
  // True with no place when nothing of the root was unmounted.
  virtual bool MountAgain(const std::string& root, std::string& mountPoint, std::string& why) {
    (void)root;
    (void)mountPoint;
    (void)why;
    return true;
  }
  // The letter the configuration gives the Windows system volume; 0 when it
  // names none, and the volumes' own contents decide.
  virtual char SystemVolumeLetter() { return 0; }
};

} // namespace quillo
