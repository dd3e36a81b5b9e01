// SPDX-License-Identifier: GPL-2.0-or-later
// A volume its user let us unmount for the work: its file system unmounted
// through the desktop's disk service (UDisks2, where polkit decides), and
// mounted again through it once the work is done, at the place the service
// chooses. Never made without the user's word.
#pragma once

#include <memory>
#include <string>

#include "platform/DriveEnvironment.h"

namespace quillo {

class UnmountedVolume {
public:
  // Unmounts the file system on the block device `device`. Null with `why`
  // when the service is not there or refuses (files open on it, not
  // authorised): its own reason is kept. The environment says whether
  // polkit may ask the user, and whether in the terminal.
  static std::unique_ptr<UnmountedVolume> Unmount(const std::string& device,
                                                  const DriveEnvironment& environment,
                                                  std::string& why);
  // Mounts it again when that was not done yet; a failure goes unsaid.
  ~UnmountedVolume();
  UnmountedVolume(const UnmountedVolume&) = delete;
  UnmountedVolume& operator=(const UnmountedVolume&) = delete;

  const std::string& Device() const { return DevicePath; }
  // Where it was mounted before.
  const std::string& FormerMountPoint() const { return Former; }
  // Mounts it again; the new place, or false with the service's reason.
  // Done once: a second call answers as the first.
  bool MountAgain(std::string& mountPoint, std::string& why);

private:
  UnmountedVolume(std::string device, std::string objectPath, std::string former,
                  bool interactive, bool terminalAgent);

  std::string DevicePath;
  std::string ObjectPath;
  std::string Former;
  bool Interactive;
  bool TerminalAgent;
  bool Done = false;
  bool Mounted = false;
  std::string Place;
  std::string Failure;
};

} // namespace quillo
