// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/ClusterRuns.h"

namespace quillo::fat {

std::vector<ClusterRun> ToRuns(const std::vector<uint32_t>& clusters, size_t begin, size_t end) {
  std::vector<ClusterRun> runs;
  for (size_t i = begin; i < end; ++i) {
    if (!runs.empty() && runs.back().First + runs.back().Count == clusters[i])
      ++runs.back().Count;
    else
      runs.push_back({clusters[i], 1});
  }
  return runs;
}

bool ReadChainData(BlockDevice& device, const FatLayout& layout,
                   const std::vector<uint32_t>& clusters, size_t begin, size_t end, uint8_t* out) {
  for (const ClusterRun& run : ToRuns(clusters, begin, end)) {
    size_t bytes = size_t(run.Count) * layout.BytesPerCluster;
    if (!device.ReadAt(layout.ClusterOffset(run.First), out, bytes)) return false;
    out += bytes;
  }
  return true;
}

} // namespace quillo::fat
