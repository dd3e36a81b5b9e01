// SPDX-License-Identifier: GPL-2.0-or-later
// A small engine over the in-memory volume for the volume-access tests: files
// are opened by path, and the analysis is not needed here.
#pragma once

#include <memory>

#include "TestSupport.h"
#include "engine/DefragClass.h"
#include "engine/MemoryVolume.h"

namespace quillo::test {

class PathEngine final : public TDefrag {
public:
  using TDefrag::TDefrag;
  void Analyze(uint8_t) override {}
  Handle OpenFile(FILE_INFO& file) override {
    uint32_t attributes = Device().GetFileAttributes(file.Name);
    bool directory =
        attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
    return Device().CreateFile(file.Name, kGenericRead,
                               directory ? kFileShareRead | kFileShareWrite | kFileShareDelete
                                         : kFileShareRead | kFileShareWrite,
                               directory ? kFileFlagBackupSemantics : kFileFlagNoBuffering);
  }
};

struct EngineWorld {
  explicit EngineWorld(MemoryVolume::Options options = {})
      : Volume(std::make_shared<MemoryVolume>(options)) {}

  std::unique_ptr<PathEngine> MakeEngine() {
    return std::make_unique<PathEngine>("c:", Volume, EngineServices{Time, Dispatcher, Notifier});
  }

  std::shared_ptr<MemoryVolume> Volume;
  FakeClock Time;
  InlineDispatcher Dispatcher;
  RecordingNotifier Notifier;
};

} // namespace quillo::test
