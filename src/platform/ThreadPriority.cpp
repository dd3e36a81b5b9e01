// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillo {

namespace {

// The I/O priority interface has no libc wrapper; these are the kernel's
// values (include/uapi/linux/ioprio.h).
constexpr int kIoprioWhoProcess = 1; // with a thread id, applies to that thread
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioIdleValue = kIoprioClassIdle << kIoprioClassShift;

pid_t CurrentThreadId() {
  return pid_t(syscall(SYS_gettid));
}

} // namespace

bool SetIdlePriority() {
  sched_param parameters{};
  parameters.sched_priority = 0;
  bool cpu = pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters) == 0;
  bool disk = syscall(SYS_ioprio_set, kIoprioWhoProcess, CurrentThreadId(), kIoprioIdleValue) == 0;
  return cpu && disk;
}

bool HasIdlePriority() {
  int policy = 0;
  sched_param parameters{};
  if (pthread_getschedparam(pthread_self(), &policy, &parameters) != 0) return false;
  long ioPriority = syscall(SYS_ioprio_get, kIoprioWhoProcess, CurrentThreadId());
  return policy == SCHED_IDLE && ioPriority >= 0 &&
         (ioPriority >> kIoprioClassShift) == kIoprioClassIdle;
}

} // namespace quillo
