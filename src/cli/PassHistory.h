// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "engine/DefragDefine.h"
#include "settings/Setting.h"

namespace quillo {

// The time of each drive letter's last pass and last optimisation, kept in
// config.ini as the window keeps them, so that the tool's suggestion after a
// pass is the one the window would make, and the window sees the tool's runs.
class PassHistory {
public:
  // Reads config.ini of the configuration folder.
  PassHistory();

  // Whole days since the letter's volume was last optimised; -1 when never.
  int64_t DaysSinceOptimized(char letter, TDateTime now) const;
  // Stores a pass that wrote what it meant to. Empty when stored, else why
  // not (for a warning: the pass itself is not affected).
  std::string RecordPass(char letter, bool optimized, TDateTime now);

private:
  TSetting Settings;
};

} // namespace quillo
