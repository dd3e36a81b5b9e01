// SPDX-License-Identifier: GPL-2.0-or-later
// Ctrl-C and termination requests for the command-line tool. The handlers
// only count; the tool's main loop decides what to do, so that a request
// never ends the process while a move is being written.
#pragma once

namespace quillo {

// Counts SIGINT and SIGTERM instead of ending the process, and ignores
// SIGPIPE, so that a closed output pipe cannot end it either.
void InstallInterruptHandlers();

// Requests received since the handlers were installed.
int InterruptCount();

// The signal of the first request (SIGINT or SIGTERM), 0 when none came.
int FirstInterruptSignal();

// While one lives, a request ends the process at once with `exitCode`
// (a request already received ends it when the scope begins). For stretches
// that only read and may take long, such as opening damaged volumes: there is
// nothing to complete, and waiting for them would leave Ctrl-C unanswered.
class ImmediateInterrupts {
public:
  explicit ImmediateInterrupts(int exitCode);
  ~ImmediateInterrupts();
  ImmediateInterrupts(const ImmediateInterrupts&) = delete;
  ImmediateInterrupts& operator=(const ImmediateInterrupts&) = delete;
};

// Within ImmediateInterrupts, a stretch that writes (the repair of an
// interrupted run) holds requests back; one received meanwhile ends the
// process when the last hold ends.
class InterruptHold {
public:
  InterruptHold();
  ~InterruptHold();
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;
};

} // namespace quillo
