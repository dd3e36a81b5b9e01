// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

#include "engine/DefragDefine.h"

namespace quillo {

// Time and sleeping, injected so that tests never sleep and can set the
// local time the recent-file rule is measured against.
class Clock {
public:
  virtual ~Clock() = default;
  // Current local time as a date-time.
  virtual TDateTime Now() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

} // namespace quillo
