// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>

namespace quillo::jobsched {

// A task's name as the caller gave it, and the file-name stem shared by its
// units, its task file and its autostart entry.
class TaskName {
public:
  // Empty when the name is empty, not valid text, too long for a unit, or
  // starts with "." or "-".
  static std::optional<TaskName> FromCaller(const char16_t* name);
  static std::optional<TaskName> FromText(const std::string& name);

  const std::string& Text() const { return Original; }
  // Lower case, "." as "-", other characters a unit name cannot hold as
  // \xNN: "QuilloDefrag.job" gives "quillodefrag-job".
  const std::string& Stem() const { return UnitStem; }

private:
  TaskName(std::string original, std::string stem);

  std::string Original;
  std::string UnitStem;
};

} // namespace quillo::jobsched
