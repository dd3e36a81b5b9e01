// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>

namespace quillo {

// Runs a worker's step on the window thread while the worker waits. Unlike
// the jobs' hand-over, a step here may be dropped: when the window goes away
// first, the worker stops waiting and the step never runs.
class WindowHandOver {
public:
  virtual ~WindowHandOver() = default;
  // Worker thread: true once the step has run on the window thread; false
  // when it was cancelled before it ran.
  virtual bool RunAndWait(const std::function<void()>& step) = 0;
  // Window thread: drops a step that has not run yet and releases its
  // worker; later steps are refused at once.
  virtual void Cancel() = 0;
};

} // namespace quillo
