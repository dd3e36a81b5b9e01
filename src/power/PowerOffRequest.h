// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace quillo {

// Asks the system to switch the computer off. The countdown window holds
// one; tests give it one that only counts.
class PowerOffRequest {
public:
  virtual ~PowerOffRequest() = default;
  // True when the system accepted the request; false when it refused.
  virtual bool RequestPowerOff() = 0;
  // Why the last request was refused, as the system put it.
  virtual std::string RefusalReason() const = 0;
};

} // namespace quillo
