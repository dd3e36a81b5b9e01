// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatVolumeCheck.h"

#include <deque>

#include "engine/TextCodec.h"

namespace quillo::fat {

namespace {

// Enough to say what is wrong without flooding whoever shows it.
constexpr size_t kMaxProblems = 32;

} // namespace

FatVolumeCheck::FatVolumeCheck(FatNamespace& names, const FatTable& table, const FatLayout& layout)
    : Names(names), Table(table), Layout(layout) {}

void FatVolumeCheck::Report(const std::u16string& path, const std::string& what) {
  if (Problems.size() >= kMaxProblems) return;
  std::string utf8;
  if (!Utf16ToUtf8(path, utf8)) utf8 = "(unreadable name)";
  Problems.push_back(utf8 + ": " + what);
}

bool FatVolumeCheck::Claim(const std::vector<uint32_t>& clusters) {
  bool sound = true;
  for (uint32_t cluster : clusters) {
    if (Owned[cluster]) sound = false;
    Owned[cluster] = true;
  }
  return sound;
}

std::vector<std::string> FatVolumeCheck::Run() {
  Problems.clear();
  Owned.assign(size_t(Layout.MaxCluster()) + 1, false);
  Walked.clear();

  struct Pending {
    uint32_t FirstCluster;
    std::u16string Path; // "\dir\", ending with a backslash
  };
  std::deque<Pending> queue;
  queue.push_back({Layout.RootCluster, u"\\"});
  std::vector<uint32_t> chain;
  while (!queue.empty()) {
    Pending dir = std::move(queue.front());
    queue.pop_front();
    if (!Walked.insert(dir.FirstCluster).second) {
      // Named as the walk of the analysis names it: without the backslash.
      Report(dir.Path.substr(0, dir.Path.size() - 1), kDirectoryReachedAgain);
      continue;
    }
    DirectoryRead read = Names.ReadDirectory(dir.FirstCluster);
    if (!read.Data) {
      Report(dir.Path, read.Describe());
      continue;
    }
    if (!Claim(read.Data->Clusters)) {
      Report(dir.Path, "the directory shares clusters with another file or directory");
      continue; // never walk into a directory twice
    }
    for (const FatDirEntry& entry : read.Data->Parsed.Entries) {
      if (entry.IsDot || entry.IsDotDot) continue;
      std::u16string path = dir.Path + entry.Name;
      if (entry.IsDirectory()) {
        if (entry.FirstCluster == 0 || !Layout.IsDataCluster(entry.FirstCluster)) {
          Report(path, "the directory's first cluster lies outside the volume");
          continue;
        }
        queue.push_back({entry.FirstCluster, path + u"\\"});
        continue;
      }
      if (entry.FirstCluster == 0) continue; // an empty file
      ChainError error = Table.ReadChain(entry.FirstCluster, chain);
      if (error != ChainError::None) {
        Report(path, DescribeChainError(error));
        continue;
      }
      if (!Claim(chain)) Report(path, "shares clusters with another file or directory");
    }
  }
  return Problems;
}

} // namespace quillo::fat
