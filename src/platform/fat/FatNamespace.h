// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/BlockDevice.h"
#include "platform/fat/DirectoryParser.h"
#include "platform/fat/FatLayout.h"
#include "platform/fat/FatTable.h"

namespace quillo::fat {

// One directory read from the volume: its cluster chain, its entries, and
// an index of its names for case-blind lookup.
struct DirectoryData {
  std::vector<uint32_t> Clusters;
  ParsedDirectory Parsed;
  // (FoldedHash of a long or short name, entry index), sorted.
  std::vector<std::pair<uint64_t, uint32_t>> NameIndex;

  // The entry called `name` (long or short, any case), or null.
  const FatDirEntry* Find(const std::u16string& name) const;

  // The byte offset on the volume of an entry slot, or 0 when the slot lies
  // beyond the chain.
  uint64_t SlotOffset(const FatLayout& layout, uint32_t slot) const;
};

enum class DirectoryError {
  None,
  Chain,    // the chain cannot be followed (Chain says why)
  TooLarge, // larger than the 65,536 entries a directory may hold
  Io,       // the clusters cannot be read
};

struct DirectoryRead {
  std::shared_ptr<const DirectoryData> Data;
  DirectoryError Error = DirectoryError::None;
  ChainError Chain = ChainError::None;
  std::string Describe() const;
};

// What a walk of the tree says of a directory it meets a second time: an
// entry leads back to a directory met before (one of its parents, or a
// directory another entry leads to). Walking it again could go round for
// ever.
constexpr const char* kDirectoryReachedAgain =
    "the directory is reached a second time (its entry leads back to a directory already "
    "walked: a loop in the directory tree); not walked again";

// Where a path leads.
struct Location {
  bool IsRoot = false;
  uint32_t ParentCluster = 0; // first cluster of the directory that holds the entry
  FatDirEntry Entry;          // for the root, a directory entry of the root cluster
  std::u16string Path;        // from the root as spelt on disk: "\", "\dir\file"
};

enum class LookupResult {
  Found,
  NotFound,
  Corrupt, // a directory on the way cannot be read
};

// Directory reading and name lookup, with a cache of parsed directories
// keyed by their first cluster. Whoever changes a directory's clusters or
// entries tells the cache to forget it.
class FatNamespace {
public:
  FatNamespace(BlockDevice& device, const FatLayout& layout, const FatTable& table);

  DirectoryRead ReadDirectory(uint32_t firstCluster);
  // Components of a path below the root, in on-disk case or not.
  LookupResult Lookup(const std::vector<std::u16string>& components, Location& out,
                      std::string& problem);
  // One step down from the directory `at`.
  LookupResult Step(const Location& at, const std::u16string& component, Location& out,
                    std::string& problem);
  Location Root() const;

  void Forget(uint32_t firstCluster) { Cache.erase(firstCluster); }
  // The entry at `slot` of a cached directory now starts at `firstCluster`
  // (its file moved): cheaper than reading the directory again.
  void FollowFirstCluster(uint32_t directoryCluster, uint32_t slot, uint32_t firstCluster);
  void ForgetAll() { Cache.clear(); CachedEntries = 0; }

private:
  BlockDevice& Device;
  const FatLayout& Layout;
  const FatTable& Table;
  std::unordered_map<uint32_t, std::shared_ptr<DirectoryData>> Cache;
  size_t CachedEntries = 0;
};

} // namespace quillo::fat
