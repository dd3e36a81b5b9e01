// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "engine/Clock.h"

namespace quillo {

// The machine's clock: local time from the system time zone, real sleeps.
class SystemClock final : public Clock {
public:
  TDateTime Now() override;
  void Sleep(uint32_t milliseconds) override;
};

} // namespace quillo
