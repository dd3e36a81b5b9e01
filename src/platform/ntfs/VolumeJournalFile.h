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
// system file, created by the first update of a write session and freed by
// its last one. Between the two its clusters are written directly, so that
// keeping it changes no metadata.
//
// It is listed in no folder: its record alone names it, with the root as its
// parent, so that a tool reading the MFT sees what it is. Adding it to the
// root's index and removing it again would leave that index's blocks
// changed (their unused bytes shift), which a tool listing deleted names
// shows; and nothing needs to reach it by name: recovery reads the MFT.
inline constexpr std::u16string_view kVolumeJournalName = u"QuilloDefrag.journal";

struct VolumeJournalPlace {
  uint64_t Record = 0;
  std::vector<ByteExtent> Extents; // its clusters, in file order
  // Its record as it was before the file took it (a free record may still
  // tell of a deleted file); empty when unknown.
  std::vector<uint8_t> RecordBefore;
};

class VolumeJournalFile {
public:
  // Creates the file with `bytes` of clusters allocated (their contents left
  // as they are) through the mount, towards the end of the volume and, with
  // `owners`, where nothing is owned; its writes are held like any others.
  static bool Create(ntfs_volume* volume, uint64_t bytes, const ClusterOwners* owners,
                     VolumeJournalPlace& out, std::string& error);
  // Frees the file of `place` (its clusters, its record, its bit in the
  // MFT's bitmap) and puts back the record as it was before, or, when that
  // is not known, clears it of attributes. Refuses a record that is not the
  // journal file.
  static bool Remove(ntfs_volume* volume, const VolumeJournalPlace& place, std::string& error);
  // The byte offset of every sector of an MFT record, in order; empty when
  // the MFT does not map it.
  static std::vector<uint64_t> RecordSectors(ntfs_volume* volume, uint64_t record);
};

} // namespace quillo
