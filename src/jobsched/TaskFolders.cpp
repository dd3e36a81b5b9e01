// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/TaskFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace quillo::jobsched {

namespace {

constexpr const char* kConfigVariable = "XDG_CONFIG_HOME";
constexpr const char* kHomeVariable = "HOME";
constexpr const char* kDefaultConfigFolder = ".config";
constexpr size_t kPasswordBufferSize = 16384;

std::optional<std::filesystem::path> AbsoluteFromVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::filesystem::path(value);
}

std::optional<std::filesystem::path> HomeFolder() {
  if (auto home = AbsoluteFromVariable(kHomeVariable)) return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(kPasswordBufferSize);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return std::nullopt;
  }
  return std::filesystem::path(found->pw_dir);
}

} // namespace

std::optional<TaskFolders> TaskFolders::ForUser() {
  std::optional<std::filesystem::path> config = AbsoluteFromVariable(kConfigVariable);
  if (!config) {
    auto home = HomeFolder();
    if (!home) return std::nullopt;
    config = *home / kDefaultConfigFolder;
  }
  return TaskFolders{*config / "systemd" / "user", *config / "autostart", *config / "jobsched"};
}

} // namespace quillo::jobsched
