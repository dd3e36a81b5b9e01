// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

class BlockStorage;

// One Windows shadow copy as the catalog lists it.
struct ShadowCopy {
  std::array<uint8_t, 16> StoreIdentifier{};
  uint64_t CreationTime = 0; // FILETIME, UTC
  uint64_t StoreHeaderOffset = 0; // 0 while no type 0x03 entry named it
};

// Bytes of the volume that shadow-copy metadata occupies.
struct ByteExtent {
  uint64_t Offset = 0;
  uint64_t Length = 0;
};

// Reads Windows' Volume Shadow Copy metadata of an NTFS volume: the volume
// header at byte 0x1E00 and the catalog it names (see ShadowCopyDefinitions.h).
// Snapshots are copy-on-write images of the volume that record clusters by
// position; this reader only tells whether there are any, and where their
// metadata lies. Everything read is held against the volume's size, and the
// walk of the catalog is bounded, so a damaged header is a finding, not a
// fault. It never writes.
class ShadowCopyCatalog {
public:
  enum class Finding : uint8_t {
    None,        // no shadow-copy header
    NoSnapshots, // a header, and no catalog or a catalog that lists no store
    Snapshots,   // one or more snapshots
    Malformed,   // a header or catalog that cannot be trusted: see Problem()
  };
  // Catalog blocks walked at most. Windows keeps at most 512 snapshots, two
  // entries each, 127 entries a block: 9 blocks.
  static constexpr size_t kMaximumCatalogBlocks = 64;

  // Reads the volume of `volumeBytes` from `storage`.
  Finding Read(BlockStorage& storage, uint64_t volumeBytes);

  Finding Result() const { return Found; }
  const std::vector<ShadowCopy>& Snapshots() const { return Copies; }
  // The catalog's blocks and the first block of each list the catalog names.
  const std::vector<ByteExtent>& Metadata() const { return Extents; }
  // What is wrong with a malformed header or catalog, a phrase.
  const std::string& Problem() const { return Why; }

  // A catalog or store file: "\System Volume Information\" and a name that
  // ends with the VSS identifier (case ignored).
  static bool IsMetadataFile(std::u16string_view path);

private:
  Finding Fail(std::string why);
  bool ReadCatalog(BlockStorage& storage, uint64_t firstBlock);
  bool ReadEntry(const uint8_t* entry);
  // A block of metadata at `offset` lies within the volume.
  bool Within(uint64_t offset) const;

  uint64_t VolumeBytes = 0;
  Finding Found = Finding::None;
  std::vector<ShadowCopy> Copies;
  std::vector<ByteExtent> Extents;
  std::string Why;
};

} // namespace quillo
