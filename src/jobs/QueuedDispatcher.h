// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/UiDispatcher.h"

namespace quillo {

// The synchronous hand-over for a front end without a window toolkit: job
// threads queue their steps (map cells, progress, caption) and wait; the
// thread that created the dispatcher (the "UI thread", e.g. the command-line
// tool's main loop) runs them. Everything those steps change is therefore
// only touched on that thread, which can read it without a lock.
//
// The UI thread must keep running steps while it waits for a job, or the job
// waits for ever; RunUntil is the way to wait.
class QueuedDispatcher final : public UiDispatcher {
public:
  using TimePoint = std::chrono::steady_clock::time_point;

  QueuedDispatcher();
  ~QueuedDispatcher() override;
  QueuedDispatcher(const QueuedDispatcher&) = delete;
  QueuedDispatcher& operator=(const QueuedDispatcher&) = delete;

  // Queues the step and waits until the UI thread ran it; on the UI thread,
  // or once closed, runs it at once. An exception of the step is rethrown
  // to the caller.
  void RunAndWait(const std::function<void()>& step) override;

  // UI thread: runs the steps already queued; returns how many.
  size_t RunPending();
  // UI thread: runs steps as they come until the deadline, or until Wake.
  void RunUntil(TimePoint deadline);
  // Ends the current or the next RunUntil early.
  void Wake() override;
  // UI thread: runs what is queued and from now on lets every caller run
  // its steps itself. For shutting down when the UI thread stops looking at
  // what the steps change.
  void Close();

private:
  struct Request {
    const std::function<void()>* Step = nullptr;
    std::atomic<bool> Done{false};
    std::condition_variable Finished;
    std::exception_ptr Error;
  };

  // Runs the queued requests, each outside the lock.
  void RunQueued(std::unique_lock<std::mutex>& lock);
  // Spins briefly, without the lock, until something is queued.
  void AwaitBriefly(std::unique_lock<std::mutex>& lock);

  std::thread::id UiThread;
  std::mutex Lock;
  std::condition_variable Queued;
  std::deque<Request*> Queue;
  // Mirrors Queue.size() for the lock-free look of AwaitBriefly.
  std::atomic<size_t> QueueLength{0};
  bool Closed = false;
  bool WakeRequested = false;
};

} // namespace quillo
