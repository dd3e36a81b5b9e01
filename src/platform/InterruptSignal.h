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

} // namespace quillo
