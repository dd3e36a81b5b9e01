// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <string>

#include "engine/DefragClass.h"

namespace quillo {

// Builds the engine of a job once the job has recognised the volume's file
// system. The standard factory makes TNtfsDefrag and TFatDefrag; tests supply
// engines of their own.
class EngineFactory {
public:
  virtual ~EngineFactory() = default;
  virtual std::unique_ptr<TDefrag> CreateNtfs(const std::string& volumeName,
                                              std::shared_ptr<VolumeDevice> device,
                                              const EngineServices& services) = 0;
  virtual std::unique_ptr<TDefrag> CreateFat(const std::string& volumeName,
                                             std::shared_ptr<VolumeDevice> device,
                                             const EngineServices& services) = 0;
};

} // namespace quillo
