// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobs/QueuedDispatcher.h"

namespace quillo {

namespace {
// A job hands over one map cell after another. Both sides look again for a
// short while before they sleep: a wake-up through the scheduler costs far
// more than the step itself.
constexpr auto kSpinBeforeSleeping = std::chrono::microseconds(50);

template <typename Ready> bool SpinUntil(Ready ready) {
  auto until = std::chrono::steady_clock::now() + kSpinBeforeSleeping;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::yield();
  }
  return true;
}
} // namespace

QueuedDispatcher::QueuedDispatcher() : UiThread(std::this_thread::get_id()) {}

QueuedDispatcher::~QueuedDispatcher() {
  Close();
}

void QueuedDispatcher::RunAndWait(const std::function<void()>& step) {
  std::unique_lock<std::mutex> lock(Lock);
  if (Closed || std::this_thread::get_id() == UiThread) {
    lock.unlock();
    step();
    return;
  }
  Request request;
  request.Step = &step;
  Queue.push_back(&request);
  QueueLength = Queue.size();
  Queued.notify_one();
  lock.unlock();
  SpinUntil([&] { return request.Done.load(); });
  lock.lock();
  request.Finished.wait(lock, [&] { return request.Done.load(); });
  if (request.Error) std::rethrow_exception(request.Error);
}

void QueuedDispatcher::RunQueued(std::unique_lock<std::mutex>& lock) {
  while (!Queue.empty()) {
    Request* request = Queue.front();
    Queue.pop_front();
    QueueLength = Queue.size();
    lock.unlock();
    std::exception_ptr error;
    try {
      (*request->Step)();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    // The request lives on its caller's stack: once Done is seen it may be
    // gone, so nothing touches it after the notification.
    request->Error = error;
    request->Done = true;
    request->Finished.notify_one();
  }
}

void QueuedDispatcher::AwaitBriefly(std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  SpinUntil([&] { return QueueLength.load() > 0; });
  lock.lock();
}

size_t QueuedDispatcher::RunPending() {
  std::unique_lock<std::mutex> lock(Lock);
  size_t ran = Queue.size();
  RunQueued(lock);
  return ran;
}

void QueuedDispatcher::RunUntil(TimePoint deadline) {
  std::unique_lock<std::mutex> lock(Lock);
  do {
    RunQueued(lock);
    if (WakeRequested) break;
    AwaitBriefly(lock);
    RunQueued(lock);
    // A busy job must not keep the caller past its deadline.
  } while (Queued.wait_until(lock, deadline, [&] { return !Queue.empty() || WakeRequested; }) &&
           !WakeRequested && std::chrono::steady_clock::now() < deadline);
  RunQueued(lock);
  WakeRequested = false;
}

void QueuedDispatcher::Wake() {
  std::lock_guard<std::mutex> guard(Lock);
  WakeRequested = true;
  Queued.notify_one();
}

void QueuedDispatcher::Close() {
  std::unique_lock<std::mutex> lock(Lock);
  Closed = true;
  RunQueued(lock);
}

} // namespace quillo
