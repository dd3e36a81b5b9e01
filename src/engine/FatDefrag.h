// SPDX-License-Identifier: GPL-2.0-or-later
// TFatDefrag: the engine for FAT32 volumes. The analysis walks the directory
// tree breadth-first from the root, and files are opened by their full path.
#pragma once

#include <string>
#include <vector>

#include "engine/DefragClass.h"

namespace quillo {

class TFatDefrag final : public TDefrag {
public:
  using TDefrag::TDefrag;

  void Analyze(uint8_t mode) override;
  // Opens Name: a directory with backup semantics, a file unbuffered.
  Handle OpenFile(FILE_INFO& file) override;

protected:
  // Directories listed among those known so far.
  uint32_t WalkPercentage(uint32_t counter) override;

private:
  // The directories to list, as UTF-16 paths ending with a backslash once
  // their turn has come. Read by index and never shortened during a walk.
  std::vector<std::u16string> Queue;
};

} // namespace quillo
