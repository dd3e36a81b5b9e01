// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/UpdateHandOver.h"

#include <QThread>

#include <exception>
#include <memory>

namespace quillo {

namespace {
struct PendingStep {
  bool Started = false;
  bool Finished = false;
};
} // namespace

UpdateHandOver::UpdateHandOver(QObject* parent) : QObject(parent) {}

bool UpdateHandOver::RunAndWait(const std::function<void()>& step) {
  if (QThread::currentThread() == thread()) {
    step();
    return true;
  }
  auto pending = std::make_shared<PendingStep>();
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Cancelled) return false;
  }
  QMetaObject::invokeMethod(
      this,
      [this, pending, step] {
        {
          std::lock_guard<std::mutex> guard(Lock);
          if (Cancelled) return;
          pending->Started = true;
        }
        try {
          step();
        } catch (const std::exception&) {
          // The step's failure ends the step, not the window.
        }
        {
          std::lock_guard<std::mutex> guard(Lock);
          pending->Finished = true;
        }
        Changed.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(Lock);
  // A step that has started is waited for: it uses the worker's data.
  Changed.wait(lock, [&] { return pending->Finished || (Cancelled && !pending->Started); });
  return pending->Finished;
}

void UpdateHandOver::Cancel() {
  {
    std::lock_guard<std::mutex> guard(Lock);
    Cancelled = true;
  }
  Changed.notify_all();
}

} // namespace quillo
