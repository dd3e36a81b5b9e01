// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quillo {

// The mounts of /proc/self/mountinfo: which device numbers and which
// sources are mounted somewhere.
class MountTable {
public:
  struct Mount {
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string MountPoint;
    std::string Source;
  };

  static MountTable Parse(const std::string& text);
  // An unreadable file gives an empty table; `readable` says which.
  static MountTable Load(const std::filesystem::path& path, bool& readable);

  // The mount point of a mounted device, or empty.
  std::string MountPointOf(dev_t device) const;
  // The mount point of a mount whose source is `path`, or empty.
  std::string MountPointOfSource(const std::string& path) const;

private:
  std::vector<Mount> Mounts;
};

} // namespace quillo
