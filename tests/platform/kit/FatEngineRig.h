// SPDX-License-Identifier: GPL-2.0-or-later
// The FAT engine over a FatVolume, as the job thread would run it.
#pragma once

#include <memory>
#include <string>

#include "TestSupport.h"
#include "engine/FatDefrag.h"
#include "engine/UiDispatcher.h"
#include "platform/fat/FatVolume.h"

namespace quillo::test {

struct FatEngineRig {
  // Opens the volume on `device` as C: and builds the engine; fails the
  // current test when the volume does not open.
  explicit FatEngineRig(std::unique_ptr<BlockDevice> device) {
    std::string why;
    std::unique_ptr<fat::FatVolume> volume = fat::FatVolume::Open("C:", std::move(device), why);
    if (!volume) throw std::runtime_error("the volume does not open: " + why);
    Volume = std::move(volume);
    Engine = std::make_unique<TFatDefrag>("C:", Volume, EngineServices{Time, Dispatcher, Notifier});
  }

  // Analysis then, when `defrag`, the pass of the same mode, with the states
  // the job thread sets around them.
  void Run(uint8_t mode, bool defrag) {
    Engine->State = dsAnalyzing;
    Engine->Analyze(mode);
    if (!defrag || Engine->State == dsStopping) return;
    Engine->State = dsDefragging;
    Engine->Defrag(mode);
  }

  FakeClock Time;
  InlineDispatcher Dispatcher;
  RecordingNotifier Notifier;
  std::shared_ptr<fat::FatVolume> Volume;
  std::unique_ptr<TFatDefrag> Engine;
};

} // namespace quillo::test
