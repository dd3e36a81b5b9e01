// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobs/StandardEngineFactory.h"

#include "engine/FatDefrag.h"
#include "engine/NtfsDefrag.h"

namespace quillo {

std::unique_ptr<TDefrag> StandardEngineFactory::CreateNtfs(const std::string& volumeName,
                                                           std::shared_ptr<VolumeDevice> device,
                                                           const EngineServices& services) {
  return std::make_unique<TNtfsDefrag>(volumeName, std::move(device), services);
}

std::unique_ptr<TDefrag> StandardEngineFactory::CreateFat(const std::string& volumeName,
                                                          std::shared_ptr<VolumeDevice> device,
                                                          const EngineServices& services) {
  return std::make_unique<TFatDefrag>(volumeName, std::move(device), services);
}

} // namespace quillo
