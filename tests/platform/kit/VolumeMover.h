// SPDX-License-Identifier: GPL-2.0-or-later
// Moves through a volume device as the engine makes them: open by path,
// read the extents, find free clusters, move.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/VolumeDevice.h"

namespace quillo::test {

struct Extent {
  int64_t Lcn = 0;
  int64_t Length = 0;
};

int64_t Total(const std::vector<Extent>& extents);

class VolumeMover {
public:
  // Opens the volume handle of C:.
  explicit VolumeMover(VolumeDevice& volume);
  ~VolumeMover();
  VolumeMover(const VolumeMover&) = delete;
  VolumeMover& operator=(const VolumeMover&) = delete;

  // Opens a file or directory (fails the current test when it cannot).
  Handle Open(const std::string& path);
  std::vector<Extent> Extents(Handle file);
  NtStatus Move(Handle file, int64_t vcn, int64_t lcn, uint32_t count);
  // The first LCN of the highest free run of `length` clusters, or -1.
  int64_t FreeRunFromTheEnd(int64_t length);

  Handle VolumeHandle() const { return VolumeAt; }
  uint64_t Clusters() const { return ClusterCount; }

private:
  VolumeDevice& Volume;
  Handle VolumeAt = kInvalidHandle;
  uint64_t ClusterCount = 0;
};

} // namespace quillo::test
