// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "platform/fat/FatNamespace.h"

namespace quillo::fat {

// The check a volume passes before anything is written to it: every
// directory can be read and is reached once, every chain reachable from the
// root can be followed, and no cluster belongs to two files or directories.
// Reads only.
class FatVolumeCheck {
public:
  FatVolumeCheck(FatNamespace& names, const FatTable& table, const FatLayout& layout);

  // Returns the problems found (paths from the root), at most a few dozen;
  // empty when the volume is sound.
  std::vector<std::string> Run();

private:
  // Claims a chain's clusters; false when one is claimed already.
  bool Claim(const std::vector<uint32_t>& clusters);
  void Report(const std::u16string& path, const std::string& what);

  FatNamespace& Names;
  const FatTable& Table;
  const FatLayout& Layout;
  std::vector<bool> Owned;
  // First clusters of the directories walked: each is walked once.
  std::unordered_set<uint32_t> Walked;
  std::vector<std::string> Problems;
};

} // namespace quillo::fat
