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

const FatDirEntry* DirectoryData::Find(const std::u16string& name) const {
  uint64_t hash = FoldedHash(name);
  auto it = std::lower_bound(NameIndex.begin(), NameIndex.end(), std::make_pair(hash, uint32_t(0)));
  for (; it != NameIndex.end() && it->first == hash; ++it) {
    const FatDirEntry& entry = Parsed.Entries[it->second];
    if (EqualFolded(entry.Name, name) || EqualFolded(entry.ShortName, name)) return &entry;
  }
  return nullptr;
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

void FatNamespace::FollowFirstCluster(uint32_t directoryCluster, uint32_t slot,
                                      uint32_t firstCluster) {
  auto cached = Cache.find(directoryCluster);
  if (cached == Cache.end()) return;
  // Entries are in slot order.
  std::vector<FatDirEntry>& entries = cached->second->Parsed.Entries;
  auto entry = std::lower_bound(entries.begin(), entries.end(), slot,
                                [](const FatDirEntry& e, uint32_t s) { return e.Slot < s; });
  if (entry != entries.end() && entry->Slot == slot)
    entry->FirstCluster = firstCluster;
  else
    Cache.erase(cached);
}

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
  data->NameIndex.reserve(entries.size() * 2);
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (entries[i].IsDot || entries[i].IsDotDot) continue;
    uint64_t longHash = FoldedHash(entries[i].Name);
    uint64_t shortHash = FoldedHash(entries[i].ShortName);
    data->NameIndex.push_back({longHash, i});
    if (shortHash != longHash) data->NameIndex.push_back({shortHash, i});
  }
  std::sort(data->NameIndex.begin(), data->NameIndex.end());

  if (CachedEntries + entries.size() > kCacheEntryBudget) ForgetAll();
  CachedEntries += entries.size();
  Cache.emplace(firstCluster, data);
  result.Data = std::move(data);
  return result;
}

Location FatNamespace::Root() const {
  Location root;
  root.IsRoot = true;
  root.Entry.Name.assign(1, u'\\');
  root.Entry.Attributes = kAttrDirectory;
  root.Entry.FirstCluster = Layout.RootCluster;
  root.Path.assign(1, u'\\');
  return root;
}

LookupResult FatNamespace::Step(const Location& at, const std::u16string& component, Location& out,
                                std::string& problem) {
  if (!at.Entry.IsDirectory()) return LookupResult::NotFound;
  DirectoryRead dir = ReadDirectory(at.Entry.FirstCluster);
  if (!dir.Data) {
    problem = dir.Describe();
    return LookupResult::Corrupt;
  }
  const FatDirEntry* found = dir.Data->Find(component);
  if (!found) return LookupResult::NotFound;
  out.IsRoot = false;
  out.ParentCluster = at.Entry.FirstCluster;
  out.Entry = *found;
  out.Path = at.Path;
  if (!at.IsRoot) out.Path.push_back(u'\\');
  out.Path.append(found->Name);
  return LookupResult::Found;
}

LookupResult FatNamespace::Lookup(const std::vector<std::u16string>& components, Location& out,
                                  std::string& problem) {
  Location at = Root();
  for (const std::u16string& component : components) {
    Location next;
    LookupResult result = Step(at, component, next, problem);
    if (result != LookupResult::Found) return result;
    at = std::move(next);
  }
  out = std::move(at);
  return LookupResult::Found;
}

} // namespace quillo::fat
