// SPDX-License-Identifier: GPL-2.0-or-later
// What the tool's targets name: the demo volumes, and the volumes of the
// platform's drive table (drive letters, block devices, image files and
// image#N partitions).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/MemoryVolume.h"
#include "engine/VolumeDevice.h"

namespace quillo {

// One line of `qdefrag list`.
struct ListedVolume {
  std::string Letter; // "C:"
  std::string Target;
  std::string FileSystem;
  uint64_t SizeBytes = 0;
  bool Usable = false;
  std::string Why; // when not usable
};

struct OpenedTarget {
  std::string Target;     // as the user wrote it
  std::string VolumeName; // the letter the job knows it by, "C:"
  std::string FileSystem;
  std::shared_ptr<VolumeDevice> Device; // null when refused
  std::string Refusal;                  // why the target cannot be used
  std::shared_ptr<MemoryVolume> Demo;   // the demo's volume, for its content check
};

class TargetTable {
public:
  explicit TargetTable(Clock& clock);

  OpenedTarget Open(const std::string& target);
  std::vector<ListedVolume> List();

private:
  OpenedTarget OpenDemo(const std::string& target);

  Clock& Time;
  char NextDemoLetter;
};

} // namespace quillo
