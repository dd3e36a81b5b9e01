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
// An installed program finds its data relative to its own folder first, so
// that a tree installed under another prefix than the configured one works.
constexpr const char* kFolderFromExecutable = "../share/quillodefrag/language";
constexpr const char* kInstalledFolder = QUILLO_INSTALLED_LANGUAGE_DIR;
} // namespace

std::filesystem::path LanguageFolder() {
  const char* overridden = std::getenv(kLanguageOverride);
  if (overridden != nullptr && *overridden != '\0') return overridden;
  const std::filesystem::path executableFolder = ExecutableFolder();
  if (!executableFolder.empty()) {
    for (const char* relative : {kFolderBesideExecutable, kFolderFromExecutable}) {
      const std::filesystem::path candidate = executableFolder / relative;
      std::error_code ignored;
      if (std::filesystem::is_directory(candidate, ignored)) return candidate.lexically_normal();
    }
  }
  return kInstalledFolder;
}

} // namespace quillo
