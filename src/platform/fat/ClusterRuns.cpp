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
  std::vector<ClusterRun> runs = ToRuns(clusters, begin, end);
  std::vector<ReadPiece> pieces;
  pieces.reserve(runs.size());
  for (const ClusterRun& run : runs) {
    size_t bytes = size_t(run.Count) * layout.BytesPerCluster;
    pieces.push_back({layout.ClusterOffset(run.First), out, bytes});
    out += bytes;
  }
  return device.ReadPieces(pieces);
}

} // namespace quillo::fat
