// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/InterruptSignal.h"

#include <atomic>
#include <csignal>

namespace quillo {

namespace {

std::atomic<int> gRequests{0};
std::atomic<int> gFirstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");

extern "C" void CountInterrupt(int signalNumber) {
  int none = 0;
  gFirstSignal.compare_exchange_strong(none, signalNumber);
  gRequests.fetch_add(1);
}

void Install(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume; the main loop looks at the count.
  action.sa_flags = SA_RESTART;
  sigaction(signalNumber, &action, nullptr);
}

} // namespace

void InstallInterruptHandlers() {
  Install(SIGINT, CountInterrupt);
  Install(SIGTERM, CountInterrupt);
  Install(SIGPIPE, SIG_IGN);
}

int InterruptCount() {
  return gRequests.load();
}

int FirstInterruptSignal() {
  return gFirstSignal.load();
}

} // namespace quillo
