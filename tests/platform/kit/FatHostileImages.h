// SPDX-License-Identifier: GPL-2.0-or-later
// FAT32 images that a walk or a write could be led astray by: directory
// entries that lead back into the tree above them, FAT mirroring turned off,
// a backup boot sector with another layout. Each is the small fixture image
// with a few bytes changed.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

namespace quillo::test {

struct HostileFatImage {
  const char* Name;
  std::function<void(std::vector<uint8_t>&)> Damage;
  // Part of what the analysis tells (a notice), or "" when it has nothing
  // to tell.
  const char* Finding;
  // Part of why every write is refused.
  const char* Refusal;
};

inline void PrintTo(const HostileFatImage& image, std::ostream* out) {
  *out << image.Name;
}

std::vector<HostileFatImage> HostileFatImages();

} // namespace quillo::test
