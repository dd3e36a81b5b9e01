// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace quillo {

// The power-off countdown shown after the last busy job has finished when
// "Turn off computer after defragment" is ticked.
class PowerOffWindow {
public:
  virtual ~PowerOffWindow() = default;
  // Returns when the countdown was cancelled (or the request refused).
  virtual void ShowModal() = 0;
};

} // namespace quillo
