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
  // The letter the configuration gives the Windows system volume; 0 when it
  // names none, and the volumes' own contents decide.
  virtual char SystemVolumeLetter() { return 0; }
};

} // namespace quillo
