// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs whose thread ended with an error. Such a job keeps the state it died
// in and refuses every command with an error; the window treats it as
// neither running nor commandable, so that no path keeps poking it, until
// its volume is listed anew with a fresh job.
#pragma once

#include <algorithm>
#include <vector>

#include "jobs/DefragThread.h"

namespace quillo {

inline bool IsLive(const TDefragThread& job) { return !job.IsDead(); }

// Running in a thread that still lives.
inline bool IsLiveAndRunning(const TDefragThread& job) {
  return IsLive(job) && IsRunning(job.State());
}

// The jobs that may still be given commands, in their order.
inline std::vector<TDefragThread*> LiveJobs(std::vector<TDefragThread*> jobs) {
  std::erase_if(jobs, [](const TDefragThread* job) { return !IsLive(*job); });
  return jobs;
}

} // namespace quillo
