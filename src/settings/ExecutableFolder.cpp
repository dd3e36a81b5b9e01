// SPDX-License-Identifier: GPL-2.0-or-later
// Platform seam: how a Linux process finds its own executable. Kept in this
// one function because the settings library sits below src/platform.
#include "settings/ExecutableFolder.h"

#include <system_error>

namespace quillo {

namespace {
constexpr const char* kSelfExecutable = "/proc/self/exe";
}

std::filesystem::path ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink(kSelfExecutable, error);
  if (error) return {};
  return executable.parent_path();
}

} // namespace quillo
