// SPDX-License-Identifier: GPL-2.0-or-later
// Ctrl-C and SIGTERM in a child process: counted outside an immediate scope,
// ending the process at once inside one, and held back by a hold until it
// ends.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/InterruptSignal.h"

namespace quillo::test {
namespace {

constexpr int kImmediateExit = 130;
constexpr int kReachedEnd = 7;
constexpr int kHoldEnded = 8;
constexpr auto kSettle = std::chrono::milliseconds(200);

enum class Stretch { Counted, Immediate, HeldThenReleased };

// Runs `stretch` in a child that tells the parent through a pipe when it is
// ready, then sleeps; the parent sends `signalNumber`. Returns the child's
// exit code.
int RunChild(Stretch stretch, int signalNumber) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    InstallInterruptHandlers();
    auto signalReady = [&] {
      char byte = 1;
      if (write(ready[1], &byte, 1) != 1) _exit(2);
    };
    auto wait = [] { std::this_thread::sleep_for(kSettle * 4); };
    switch (stretch) {
    case Stretch::Counted:
      signalReady();
      wait();
      _exit(InterruptCount() == 1 ? kReachedEnd : 3);
    case Stretch::Immediate: {
      ImmediateInterrupts immediate(kImmediateExit);
      signalReady();
      wait();
      _exit(kReachedEnd);
    }
    case Stretch::HeldThenReleased: {
      ImmediateInterrupts immediate(kImmediateExit);
      {
        InterruptHold hold;
        signalReady();
        wait();
        // Still here: the request waited for the hold. Tell the parent by a
        // second byte, then let the hold end.
        char byte = kHoldEnded;
        if (write(ready[1], &byte, 1) != 1) _exit(2);
      }
      _exit(kReachedEnd);
    }
    }
    _exit(4);
  }
  close(ready[1]);
  char byte = 0;
  if (read(ready[0], &byte, 1) != 1) return -1;
  kill(child, signalNumber);
  if (stretch == Stretch::HeldThenReleased && (read(ready[0], &byte, 1) != 1 || byte != kHoldEnded))
    return -2;
  close(ready[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InterruptSignalTest, RequestsAreCountedEndAtOnceOrWaitForAHold) {
  struct Case {
    Stretch What;
    int Expected;
  };
  for (int signalNumber : {SIGINT, SIGTERM}) {
    for (const Case& c : {Case{Stretch::Counted, kReachedEnd}, Case{Stretch::Immediate, kImmediateExit},
                          Case{Stretch::HeldThenReleased, kImmediateExit}}) {
      SCOPED_TRACE(std::to_string(signalNumber) + " stretch " + std::to_string(int(c.What)));
      EXPECT_EQ(RunChild(c.What, signalNumber), c.Expected);
    }
  }
}

} // namespace
} // namespace quillo::test
