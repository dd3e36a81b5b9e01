// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace quillo::jobsched {

// Runs "systemctl --user …" for the user's own service manager, never for
// longer than a few seconds. The environment variable JOBSCHED_SYSTEMCTL,
// when set, names the program run instead; set and empty, nothing runs.
class Systemctl {
public:
  enum class Outcome {
    Finished, // ran to its end, whatever its exit status
    NotRun,   // no such program, or switched off
    TimedOut, // stopped after the time limit
  };

  static Outcome Run(const std::vector<std::string>& arguments);
  // Runs each command in turn; stops at the first that did not finish, since
  // the next would meet the same missing program or hung manager.
  static void RunAll(const std::vector<std::vector<std::string>>& commands);
};

} // namespace quillo::jobsched
