// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>

namespace quillo {

// Where the drive table looks for its configuration and for the system's
// view of block devices and mounts. Tests point every path at a folder of
// their own, so that no real device is ever looked at.
struct DriveEnvironment {
  std::filesystem::path ConfigurationFolder; // holds drives.ini
  std::filesystem::path SysClassBlock = "/sys/class/block";
  std::filesystem::path DeviceFolder = "/dev";
  std::filesystem::path MountInfo = "/proc/self/mountinfo";
  // Block devices holding FAT32 or NTFS volumes get letters of their own.
  bool Discover = true;
  // The desktop's disk service (UDisks2 on the system bus) names the block
  // devices and opens those the program may not open itself. Without it,
  // or where the bus has none, sysfs and libblkid name them.
  bool AskDiskService = false;
  // The disk service may ask the user to authorise an opening (polkit's
  // agent); a run nobody attends must not wait for an answer.
  bool Interactive = false;
  // The opening is for a pass, which writes: the disk service is asked for
  // writing. Otherwise it is asked for reading only (an analysis, a look at
  // the volume). A job says anew what each of its commands needs.
  bool Writes = false;
  // Someone attends the run at a terminal (qdefrag): polkit's text agent
  // asks there, where no desktop agent does.
  bool TerminalAgent = false;

  // The running system's paths and the program's configuration folder,
  // with the disk service asked and allowed to prompt.
  static DriveEnvironment System();
};

} // namespace quillo
