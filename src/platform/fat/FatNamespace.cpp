// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatNamespace.h"

#include <algorithm>

#include "platform/fat/ClusterRuns.h"
#include "platform/fat/NameFolding.h"

namespace quillo::fat {

namespace {

// A directory holds at most 65,536 entries of 32 bytes.
constexpr uint64_t kMaxDirectoryBytes = 65536ULL * kDirEntryBytes;
// Parsed directories kept before the cache starts afresh: enough for the
// directories of a large volume, bounded in memory.
constexpr size_t kCacheEntryBudget = 400000;

} // namespace

uint64_t DirectoryData::SlotOffset(const FatLayout& layout, uint32_t slot) const {
  uint64_t byte = uint64_t(slot) * kDirEntryBytes;
  uint64_t index = byte / layout.BytesPerCluster;
  if (index >= Clusters.size()) return 0;
  return layout.ClusterOffset(Clusters[index]) + byte % layout.BytesPerCluster;
}

std::string DirectoryRead::Describe() const {
  switch (Error) {
  case DirectoryError::None: return "sound";
  case DirectoryError::Chain: return DescribeChainError(Chain);
  case DirectoryError::TooLarge: return "the directory is larger than 65,536 entries";
  case DirectoryError::Io: return "the directory cannot be read";
  }
  return "unknown";
}

FatNamespace::FatNamespace(BlockDevice& device, const FatLayout& layout, const FatTable& table)
    : Device(device), Layout(layout), Table(table) {}

DirectoryRead FatNamespace::ReadDirectory(uint32_t firstCluster) {
  DirectoryRead result;
  auto cached = Cache.find(firstCluster);
  if (cached != Cache.end()) {
    result.Data = cached->second;
    return result;
  }

  auto data = std::make_shared<DirectoryData>();
  result.Chain = Table.ReadChain(firstCluster, data->Clusters);
  if (result.Chain != ChainError::None) {
    result.Error = DirectoryError::Chain;
    return result;
  }
  uint64_t bytes = uint64_t(data->Clusters.size()) * Layout.BytesPerCluster;
  if (bytes > std::max<uint64_t>(kMaxDirectoryBytes, Layout.BytesPerCluster)) {
    result.Error = DirectoryError::TooLarge;
    return result;
  }
  std::vector<uint8_t> raw(bytes);
  if (!ReadChainData(Device, Layout, data->Clusters, 0, data->Clusters.size(), raw.data())) {
    result.Error = DirectoryError::Io;
    return result;
  }
  data->Parsed = ParseDirectory(raw.data(), raw.size());
  const auto& entries = data->Parsed.Entries;
  data->ByName.reserve(entries.size() * 2);
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (entries[i].IsDot || entries[i].IsDotDot) continue;
    data->ByName.emplace(FoldCase(entries[i].Name), i);
    data->ByName.emplace(FoldCase(entries[i].ShortName), i);
  }

  if (CachedEntries + entries.size() > kCacheEntryBudget) ForgetAll();
  CachedEntries += entries.size();
  Cache.emplace(firstCluster, data);
  result.Data = std::move(data);
  return result;
}

Location FatNamespace::Root() const {
  Location root;
  root.IsRoot = true;
  root.Entry.Name = u"\\";
  root.Entry.Attributes = kAttrDirectory;
  root.Entry.FirstCluster = Layout.RootCluster;
  root.Path = u"\\";
  return root;
}

LookupResult FatNamespace::Lookup(const std::vector<std::u16string>& components, Location& out,
                                  std::string& problem) {
  Location at = Root();
  for (const std::u16string& component : components) {
    if (!at.Entry.IsDirectory()) return LookupResult::NotFound;
    DirectoryRead dir = ReadDirectory(at.Entry.FirstCluster);
    if (!dir.Data) {
      problem = dir.Describe();
      return LookupResult::Corrupt;
    }
    auto found = dir.Data->ByName.find(FoldCase(component));
    if (found == dir.Data->ByName.end()) return LookupResult::NotFound;
    Location next;
    next.ParentCluster = at.Entry.FirstCluster;
    next.Entry = dir.Data->Parsed.Entries[found->second];
    next.Path = (at.IsRoot ? at.Path : at.Path + u"\\") + next.Entry.Name;
    at = std::move(next);
  }
  out = std::move(at);
  return LookupResult::Found;
}

} // namespace quillo::fat
