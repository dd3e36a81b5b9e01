// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

class AttributeListLinks;
class ClusterOwners;
class MftCatalog;

// The check an NTFS volume passes before anything is written to it, on what
// the pass over the MFT gathered: no cluster has two owners, every cluster
// that a record in use owns is marked in use in $Bitmap (the mover finds its
// targets there), and every record an attribute list names is an extent of
// that file. Reads only.
class NtfsVolumeCheck {
public:
  // At most this many clusters marked free under an owner are described.
  static constexpr size_t kDescribedFreeRanges = 4;

  // The problems found, described; empty when the volume is sound.
  static std::vector<std::string> Run(ntfs_volume* volume, const MftCatalog& catalog,
                                      const ClusterOwners& owners,
                                      const AttributeListLinks& lists);

private:
  static void CompareWithBitmap(ntfs_volume* volume, const ClusterOwners& owners,
                                std::vector<std::string>& problems);
};

} // namespace quillo
