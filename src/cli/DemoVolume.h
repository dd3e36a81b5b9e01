// SPDX-License-Identifier: GPL-2.0-or-later
// The `demo:` target: a generated, fragmented in-memory volume, so that the
// tool can be tried on any machine without a spare disk or root.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/DefragDefine.h"
#include "engine/MemoryVolume.h"

namespace quillo {

struct DemoSpec {
  std::string FileSystem = "NTFS"; // or "FAT32"
};

// "demo:", "demo:ntfs", "demo:fat32" (any case); empty for anything else.
std::optional<DemoSpec> ParseDemoTarget(const std::string& target);

// Whether the text names a demo volume at all (well formed or not).
bool LooksLikeDemoTarget(const std::string& target);

// The same volume every time for the same spec: directories, contiguous
// and fragmented files, some written recently, scattered over 64 MiB of
// 4 KiB clusters. `now` dates the files.
std::shared_ptr<MemoryVolume> BuildDemoVolume(const DemoSpec& spec, const std::string& volumeName,
                                              TDateTime now);

} // namespace quillo
