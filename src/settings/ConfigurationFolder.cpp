// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/ConfigurationFolder.h"

#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace quillo {

namespace {

constexpr const char* kHomeOverride = "QUILLODEFRAG_HOME";
constexpr const char* kXdgConfigHome = "XDG_CONFIG_HOME";
constexpr const char* kHome = "HOME";
constexpr std::string_view kFolderName = "quillodefrag";
constexpr std::string_view kDefaultConfigFolder = ".config";

const char* NonEmptyVariable(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? value : nullptr;
}

} // namespace

std::filesystem::path ConfigurationFolder() {
  if (const char* home = NonEmptyVariable(kHomeOverride)) return home;
  if (const char* xdg = NonEmptyVariable(kXdgConfigHome)) {
    const std::filesystem::path base = xdg;
    // XDG asks for relative values to be ignored.
    if (base.is_absolute()) return base / kFolderName;
  }
  if (const char* home = NonEmptyVariable(kHome)) {
    return std::filesystem::path(home) / kDefaultConfigFolder / kFolderName;
  }
  // Without any of them there is no per-user place to keep settings; a
  // relative fallback would scatter config.ini into whatever folder the
  // program happens to start in.
  throw std::runtime_error("No configuration folder: set HOME or QUILLODEFRAG_HOME");
}

} // namespace quillo
