// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>

namespace quillo {

// Runs a step on the UI thread and waits until it has run. The window layer
// implements it as a blocking queued call; without a UI the step runs inline.
class UiDispatcher {
public:
  virtual ~UiDispatcher() = default;
  virtual void RunAndWait(const std::function<void()>& step) = 0;
  // Any thread: something the UI thread polls has changed (a job parked or
  // died), so a UI thread that waits for steps should look now rather than
  // at its next poll. A UI with its own event loop needs nothing.
  virtual void Wake() {}
};

class InlineDispatcher final : public UiDispatcher {
public:
  void RunAndWait(const std::function<void()>& step) override { step(); }
};

} // namespace quillo
