// SPDX-License-Identifier: GPL-2.0-or-later
// File systems the program lists but leaves alone, each with the tool that
// makes it on an image and the words the program and the disk service use
// for it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

namespace quillo::test {

struct ForeignFileSystem {
  const char* Made; // the command that makes it on the image named after it
  const char* IdType; // as the disk service tells it
  const char* IdVersion;
  const char* FileSystem; // as the program names it
  const char* Refusal;    // why the program does not work on it
};

inline constexpr std::array<ForeignFileSystem, 2> kForeignFileSystems{{
    {"mkfs.ext4 -q -F", "ext4", "1.0", "ext4", "not FAT32 or NTFS (ext4)"},
    {"mkfs.fat -F 16 -s 1", "vfat", "FAT16", "FAT16", "not FAT32 or NTFS (FAT16)"},
}};

// An image of `bytes` at `image` holding the file system; false when its
// tool failed (the tool's complaint is on standard error).
bool MakeForeignImage(const ForeignFileSystem& kind, const std::filesystem::path& image,
                      uintmax_t bytes);

} // namespace quillo::test
