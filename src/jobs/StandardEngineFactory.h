// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "jobs/EngineFactory.h"

namespace quillo {

// Makes the engines of the two supported file systems.
class StandardEngineFactory final : public EngineFactory {
public:
  std::unique_ptr<TDefrag> CreateNtfs(const std::string& volumeName,
                                      std::shared_ptr<VolumeDevice> device,
                                      const EngineServices& services) override;
  std::unique_ptr<TDefrag> CreateFat(const std::string& volumeName,
                                     std::shared_ptr<VolumeDevice> device,
                                     const EngineServices& services) override;
};

} // namespace quillo
