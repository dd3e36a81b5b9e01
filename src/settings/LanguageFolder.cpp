// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/LanguageFolder.h"

#include <cstdlib>
#include <system_error>

#include "settings/ExecutableFolder.h"

#ifndef QUILLO_INSTALLED_LANGUAGE_DIR
#error "QUILLO_INSTALLED_LANGUAGE_DIR must name the installed language folder"
#endif

namespace quillo {

namespace {
constexpr const char* kLanguageOverride = "QUILLODEFRAG_LANGUAGE_DIR";
constexpr const char* kFolderBesideExecutable = "language";
constexpr const char* kInstalledFolder = QUILLO_INSTALLED_LANGUAGE_DIR;
} // namespace

std::filesystem::path LanguageFolder() {
  const char* overridden = std::getenv(kLanguageOverride);
  if (overridden != nullptr && *overridden != '\0') return overridden;
  const std::filesystem::path executableFolder = ExecutableFolder();
  if (!executableFolder.empty()) {
    const std::filesystem::path beside = executableFolder / kFolderBesideExecutable;
    std::error_code ignored;
    if (std::filesystem::is_directory(beside, ignored)) return beside;
  }
  return kInstalledFolder;
}

} // namespace quillo
