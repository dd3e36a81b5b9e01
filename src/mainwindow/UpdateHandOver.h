// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>

#include <condition_variable>
#include <mutex>

#include "update/WindowHandOver.h"

namespace quillo {

// The update check's hand-over to the window thread: the step is queued to
// the window thread and the worker waits for it. Cancel() releases a worker
// whose step has not started, so that ending the program never waits for a
// question that was not asked yet; steps queued to a hand-over that is gone
// are dropped by Qt.
class UpdateHandOver final : public QObject, public WindowHandOver {
  Q_OBJECT

public:
  // Belongs to the thread that creates it: the window thread.
  explicit UpdateHandOver(QObject* parent = nullptr);

  bool RunAndWait(const std::function<void()>& step) override;
  void Cancel() override;

private:
  std::mutex Lock;
  std::condition_variable Changed;
  bool Cancelled = false;
};

} // namespace quillo
