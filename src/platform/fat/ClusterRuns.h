// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include "platform/BlockDevice.h"
#include "platform/fat/FatLayout.h"

namespace quillo::fat {

// Consecutive clusters of a chain that follow each other on disk.
struct ClusterRun {
  uint32_t First = 0;
  uint32_t Count = 0;
};

// The runs of a chain, in chain order.
std::vector<ClusterRun> ToRuns(const std::vector<uint32_t>& clusters, size_t begin, size_t end);
inline std::vector<ClusterRun> ToRuns(const std::vector<uint32_t>& clusters) {
  return ToRuns(clusters, 0, clusters.size());
}

// Reads clusters [begin, end) of a chain into `out`: a piece per run, read
// together.
bool ReadChainData(BlockDevice& device, const FatLayout& layout,
                   const std::vector<uint32_t>& clusters, size_t begin, size_t end, uint8_t* out);

} // namespace quillo::fat
