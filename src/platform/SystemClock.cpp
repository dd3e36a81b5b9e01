// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/SystemClock.h"

#include <cerrno>
#include <ctime>
#include <time.h>

namespace quillo {

namespace {
constexpr double kSecondsPerDay = 86400.0;
// 1970-01-01 as a date-time.
constexpr double kUnixEpochDateTime = 25569.0;
constexpr double kNanosecondsPerSecond = 1e9;
} // namespace

TDateTime SystemClock::Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  double seconds = double(now.tv_sec) + double(local.tm_gmtoff) + now.tv_nsec / kNanosecondsPerSecond;
  return kUnixEpochDateTime + seconds / kSecondsPerDay;
}

void SystemClock::Sleep(uint32_t milliseconds) {
  timespec wait{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  // Sleep on after a signal; any other failure ends the wait.
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

} // namespace quillo
