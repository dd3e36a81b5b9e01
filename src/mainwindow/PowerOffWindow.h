// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>

namespace quillo {

// The power-off countdown shown after the last busy job has finished when
// "Turn off computer after defragment" is ticked.
class PowerOffWindow {
public:
  virtual ~PowerOffWindow() = default;
  // Returns when the countdown was cancelled (nothing) or the system refused
  // to switch off (why).
  virtual std::optional<std::string> ShowModal() = 0;
};

} // namespace quillo
