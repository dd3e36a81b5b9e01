// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/VolumeDevice.h"
#include "platform/ntfs/LibraryDevice.h"
#include "platform/ntfs/MovePlan.h"
#include "platform/ntfs/OpenFile.h"

typedef struct _ntfs_volume ntfs_volume;
struct _runlist_element;
typedef struct _runlist_element runlist_element;

namespace quillo {

// Moves clusters of one stream with libntfs-3g on a writable mount whose
// writes are held (LibraryDevice): the target marked in the bitmap, the data
// copied raw (the commit syncs it first), the runlist rewritten with
// ntfs_attr_update_mapping_pairs (which grows attribute lists and extent
// records as needed), the old clusters freed. The held writes then make up one
// update, or a part of one, for the caller to commit, or to throw away on
// failure.
class ClusterOwners;

class ClusterMove {
public:
  // A target must be free both in $Bitmap and in `owners` (what the records
  // say is in use), when given.
  ClusterMove(ntfs_volume* volume, LibraryDevice& device, const ClusterOwners* owners = nullptr)
      : Volume(volume), Device(device), Owners(owners) {}

  // The checks of Run without any change, possible on a read-only mount:
  // kStatusSuccess when Run would go ahead; `clusters` is then the number of
  // allocated clusters to move (0: nothing to do).
  NtStatus Check(OpenFile& file, int64_t startVcn, int64_t targetLcn, uint32_t count,
                 int64_t& clusters);
  // kStatusSuccess: the held writes are the update (none when the range has
  // no allocated clusters). kStatusAlreadyCommitted or kStatusInvalidParameter:
  // refused, nothing held. Any other status: failed, the held writes must be
  // thrown away. The file's inode is closed on the way (file.Inode null).
  NtStatus Run(OpenFile& file, int64_t startVcn, int64_t targetLcn, uint32_t count);
  // The pieces the last successful Run moved.
  const std::vector<MovedPiece>& Moved() const { return MovedPieces; }

private:
  NtStatus Plan(OpenFile& file, int64_t startVcn, int64_t targetLcn, uint32_t count,
                std::unique_ptr<MovePlan>& plan, runlist_element& end);
  bool TargetIsFree(int64_t lcn, int64_t count);
  bool CopyPieces(const std::vector<MovedPiece>& pieces);

  ntfs_volume* Volume;
  LibraryDevice& Device;
  const ClusterOwners* Owners;
  std::vector<MovedPiece> MovedPieces;
};

} // namespace quillo
