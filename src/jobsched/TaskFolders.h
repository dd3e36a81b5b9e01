// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <optional>

namespace quillo::jobsched {

// Where a task's files live, below the user's configuration folder:
// $XDG_CONFIG_HOME, or ~/.config when that is unset or not absolute.
struct TaskFolders {
  std::filesystem::path Units;     // systemd/user
  std::filesystem::path Autostart; // autostart
  std::filesystem::path Tasks;     // jobsched

  // Empty when no configuration folder can be found.
  static std::optional<TaskFolders> ForUser();
};

} // namespace quillo::jobsched
