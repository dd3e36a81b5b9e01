// SPDX-License-Identifier: GPL-2.0-or-later
// The map's hand-over to the window thread. A job thread's step (a map cell,
// the progress, the caption) is queued to the window thread with a blocking
// queued call and the job thread waits until it has run; on the window
// thread the step runs at once.
//
// Why this cannot deadlock: the window thread waits for a job thread in two
// places only.
//  - Handing over a command (TDefragThread::HandOver) waits for the job to
//    park, but only after finding it at rest with no command in progress.
//    What such a job still has to do before parking is to release its volume
//    and park; neither hands anything over to the window thread. A job that
//    is still inside a command is refused at once instead of waited for.
//  - Ending a job (its destructor joins the thread) happens only after
//    Close(): from then on steps run on the job's own thread, and the steps
//    already queued are run by Close() itself, so no job waits for the
//    window thread while the window thread waits for the job.
// Modal windows (message boxes, the report window) run their own event
// loops, which run queued steps too.
#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>

#include "engine/UiDispatcher.h"

namespace quillo {

class WindowDispatcher final : public QObject, public UiDispatcher {
  Q_OBJECT

public:
  // Belongs to the thread that creates it: the window thread.
  explicit WindowDispatcher(QObject* parent = nullptr);

  // Runs the step on the window thread and waits; after Close() the step
  // runs on the caller's thread. An exception of the step reaches the caller.
  void RunAndWait(const std::function<void()>& step) override;
  // Runs the step on the window thread and waits; false (and nothing runs)
  // after Close(), for steps that must never run anywhere else.
  bool TryRunOnWindowThread(const std::function<void()>& step);

  // Window thread: runs the steps that are queued or being queued, and from
  // then on lets every caller run its steps itself. Call it after detaching
  // everything the steps would show, before ending the jobs.
  void Close();
  bool IsClosed() const;

private:
  // Queues the step and waits; false when closed.
  bool QueueAndWait(const std::function<void()>& step);

  mutable std::mutex Lock;
  std::condition_variable Finished;
  bool Closed = false;
  // Callers between their look at Closed and the end of their step.
  int InFlight = 0;
};

} // namespace quillo
