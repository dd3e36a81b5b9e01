// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ntfs/ShadowCopyCatalog.h"

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

class ClusterOwners;

// The copy of the undo journal that travels with the volume: a hidden
// system file in the root folder, created by the first update of a write
// session and deleted by its last one. Between the two its clusters are
// written directly, so that keeping it changes no metadata.
inline constexpr std::u16string_view kVolumeJournalName = u"QuilloDefrag.journal";
inline constexpr const char* kVolumeJournalPath = "/QuilloDefrag.journal";

struct VolumeJournalPlace {
  uint64_t Record = 0;
  std::vector<ByteExtent> Extents; // its clusters, in file order
};

class VolumeJournalFile {
public:
  // Creates the file with `bytes` of clusters allocated (their contents left
  // as they are) through the mount, towards the end of the volume and, with
  // `owners`, where nothing is owned; its writes are held like any others.
  static bool Create(ntfs_volume* volume, uint64_t bytes, const ClusterOwners* owners,
                     VolumeJournalPlace& out, std::string& error);
  // The file as the mount sees it; false when there is none.
  static bool Find(ntfs_volume* volume, VolumeJournalPlace& out);
  static bool Remove(ntfs_volume* volume, std::string& error);
  // The byte offset of every sector of an MFT record, in order; empty when
  // the MFT does not map it.
  static std::vector<uint64_t> RecordSectors(ntfs_volume* volume, uint64_t record);
};

} // namespace quillo
