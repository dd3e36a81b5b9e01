// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/LinuxHostFacts.h"

#include <time.h>
#include <unistd.h>

#include <limits>

namespace quillo {

namespace {
constexpr int64_t kUnitsPerSecond = 10'000'000; // 100 ns units
constexpr int64_t kNanosecondsPerUnit = 100;

uint32_t PositiveOrZero(long value) {
  if (value <= 0 || value > long(std::numeric_limits<uint32_t>::max())) return 0;
  return uint32_t(value);
}
} // namespace

std::optional<int64_t> LinuxHostFacts::SystemTime() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return std::nullopt;
  return int64_t(now.tv_sec) * kUnitsPerSecond + int64_t(now.tv_nsec) / kNanosecondsPerUnit;
}

uint32_t LinuxHostFacts::OnlineProcessors() {
  return PositiveOrZero(sysconf(_SC_NPROCESSORS_ONLN));
}

uint32_t LinuxHostFacts::ClockTicksPerSecond() {
  return PositiveOrZero(sysconf(_SC_CLK_TCK));
}

} // namespace quillo
