// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/DriveEnvironment.h"

#include "settings/ConfigurationFolder.h"

namespace quillo {

DriveEnvironment DriveEnvironment::System() {
  DriveEnvironment environment;
  environment.ConfigurationFolder = quillo::ConfigurationFolder();
  environment.AskDiskService = true;
  environment.Interactive = true;
  return environment;
}

} // namespace quillo
