// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/WindowDispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <chrono>
#include <exception>

namespace quillo {

namespace {
// How long Close() waits for a caller to queue its step before it looks at
// the event queue again.
constexpr auto kDrainStep = std::chrono::milliseconds(1);
} // namespace

WindowDispatcher::WindowDispatcher(QObject* parent) : QObject(parent) {}

void WindowDispatcher::RunAndWait(const std::function<void()>& step) {
  if (QThread::currentThread() == thread()) {
    step();
    return;
  }
  if (!QueueAndWait(step)) step();
}

bool WindowDispatcher::TryRunOnWindowThread(const std::function<void()>& step) {
  if (QThread::currentThread() == thread()) {
    if (IsClosed()) return false;
    step();
    return true;
  }
  return QueueAndWait(step);
}

bool WindowDispatcher::QueueAndWait(const std::function<void()>& step) {
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Closed) return false;
    ++InFlight;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      this,
      [&step, &error] {
        try {
          step();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  {
    std::lock_guard<std::mutex> guard(Lock);
    --InFlight;
  }
  Finished.notify_all();
  if (error) std::rethrow_exception(error);
  return true;
}

void WindowDispatcher::Close() {
  std::unique_lock<std::mutex> lock(Lock);
  Closed = true;
  // No caller starts a queued step any more; those that already did are
  // run here, including one that has not posted its call yet.
  while (InFlight > 0) {
    lock.unlock();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    lock.lock();
    Finished.wait_for(lock, kDrainStep, [this] { return InFlight == 0; });
  }
}

bool WindowDispatcher::IsClosed() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Closed;
}

} // namespace quillo
