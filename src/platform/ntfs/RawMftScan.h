// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/ShadowCopyCatalog.h"
#include "platform/ntfs/VolumeIdentity.h"

namespace quillo {

// Reads the MFT straight from the storage, without the library: recovery
// runs before the volume is mounted, and a volume torn by a power cut may
// not mount at all. Every value read is checked against the volume's size
// before it is used.
class RawMftScan {
public:
  // Reads the boot sector's record size and $MFT's own record. False with
  // `error` when they cannot be read.
  bool Open(BlockStorage& storage, const VolumeIdentity& identity, std::string& error);

  // The flags word of $Volume's volume information; false when unreadable.
  bool ReadVolumeFlags(uint16_t& flags);

  struct Found {
    uint64_t Record = 0;
    std::vector<ByteExtent> Extents; // the clusters of its unnamed data, in order
  };
  // The first record in use, not an extent, holding a file named `name` in
  // the root folder whose unnamed data lies in clusters. Reads the whole MFT.
  bool FindRootFile(std::u16string_view name, Found& out);

private:
  // A record with its fixups applied; false when it is not a valid record.
  bool ReadRecord(uint64_t number, std::vector<uint8_t>& out);
  bool ApplyFixups(std::vector<uint8_t>& record) const;

  BlockStorage* Storage = nullptr;
  VolumeIdentity Identity;
  uint64_t RecordBytes = 0;
  uint64_t VolumeBytes = 0;
  std::vector<ByteExtent> MftExtents; // $MFT's data, in order
  uint64_t RecordCount = 0;
};

} // namespace quillo
