// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/InterruptSignal.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace quillo {

namespace {

std::atomic<int> gRequests{0};
std::atomic<int> gFirstSignal{0};
// The exit code of the live ImmediateInterrupts scope, 0 when none lives.
std::atomic<int> gImmediateExit{0};
std::atomic<int> gHolds{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");

void ExitIfImmediate() {
  int code = gImmediateExit.load();
  if (code != 0 && gHolds.load() == 0 && gRequests.load() > 0) _exit(code);
}

extern "C" void CountInterrupt(int signalNumber) {
  int none = 0;
  gFirstSignal.compare_exchange_strong(none, signalNumber);
  gRequests.fetch_add(1);
  ExitIfImmediate(); // _exit and atomics only: safe in a handler
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

ImmediateInterrupts::ImmediateInterrupts(int exitCode) {
  gImmediateExit.store(exitCode);
  ExitIfImmediate();
}

ImmediateInterrupts::~ImmediateInterrupts() { gImmediateExit.store(0); }

InterruptHold::InterruptHold() { gHolds.fetch_add(1); }

InterruptHold::~InterruptHold() {
  gHolds.fetch_sub(1);
  ExitIfImmediate();
}

} // namespace quillo
