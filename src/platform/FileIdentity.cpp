// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace quillo {

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  FileIdentity identity;
  if (S_ISBLK(info.st_mode)) {
    // Two device nodes of one disk are one disk.
    identity.BlockDevice = true;
    identity.Device = info.st_rdev;
    return identity;
  }
  identity.Device = info.st_dev;
  identity.Inode = info.st_ino;
  return identity;
}

} // namespace quillo
