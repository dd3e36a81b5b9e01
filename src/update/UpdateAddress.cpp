// SPDX-License-Identifier: GPL-2.0-or-later
#include "update/UpdateAddress.h"

#include <cstdlib>

namespace quillo {

std::string UpdateFileUrl() {
  const char* overridden = std::getenv(kUpdateUrlVariable);
  if (overridden != nullptr && *overridden != '\0') return overridden;
  return std::string(kUpdateServer) + kUpdateFilePath;
}

} // namespace quillo
