// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobs/QueuedDispatcher.h"

namespace quillo {

QueuedDispatcher::QueuedDispatcher() : UiThread(std::this_thread::get_id()) {}

QueuedDispatcher::~QueuedDispatcher() { Close(); }

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
  Queued.notify_all();
  Finished.wait(lock, [&] { return request.Done; });
  if (request.Error) std::rethrow_exception(request.Error);
}

void QueuedDispatcher::Run(Request& request, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  std::exception_ptr error;
  try {
    (*request.Step)();
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  request.Error = error;
  request.Done = true;
  Finished.notify_all();
}

size_t QueuedDispatcher::RunPending() {
  std::unique_lock<std::mutex> lock(Lock);
  size_t ran = 0;
  while (!Queue.empty()) {
    Request* request = Queue.front();
    Queue.pop_front();
    Run(*request, lock);
    ++ran;
  }
  return ran;
}

void QueuedDispatcher::RunUntil(TimePoint deadline) {
  std::unique_lock<std::mutex> lock(Lock);
  do {
    while (!Queue.empty()) {
      Request* request = Queue.front();
      Queue.pop_front();
      Run(*request, lock);
    }
    // A busy job must not keep the caller past its deadline.
  } while (Queued.wait_until(lock, deadline, [&] { return !Queue.empty(); }) &&
           std::chrono::steady_clock::now() < deadline);
}

void QueuedDispatcher::Close() {
  std::unique_lock<std::mutex> lock(Lock);
  Closed = true;
  while (!Queue.empty()) {
    Request* request = Queue.front();
    Queue.pop_front();
    Run(*request, lock);
  }
}

} // namespace quillo
