// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace quillo {

// What tells one file or device apart whatever path leads to it (a symbolic
// link, a hard link, "./"): a file's device and inode, a block device's
// device number.
struct FileIdentity {
  bool BlockDevice = false;
  uint64_t Device = 0;
  uint64_t Inode = 0; // 0 for a block device

  auto operator<=>(const FileIdentity&) const = default;
};

// Empty when nothing is found at `path`.
std::optional<FileIdentity> IdentifyFile(const std::string& path);

} // namespace quillo
