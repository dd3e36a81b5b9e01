// SPDX-License-Identifier: GPL-2.0-or-later
// polkit's text agent for a run at a terminal. While the object lives,
// pkttyagent is registered for this process ("--fallback": a desktop's own
// agent keeps precedence), so that an authorisation the disk service asks
// polkit for is asked of the user in the terminal. It is started only for a
// run someone attends whose standard input is a terminal, and only when the
// agent is installed; otherwise the object does nothing.
#pragma once

#include <sys/types.h>
#include <unistd.h>

namespace quillo {

class TerminalAuthAgent {
public:
  // The agent's program, looked up on PATH.
  static constexpr const char* kProgram = "pkttyagent";

  // `attended`: someone waits at the terminal; `input`: the descriptor that
  // must be a terminal (standard input).
  explicit TerminalAuthAgent(bool attended, int input = STDIN_FILENO);
  // Ends the agent.
  ~TerminalAuthAgent();
  TerminalAuthAgent(const TerminalAuthAgent&) = delete;
  TerminalAuthAgent& operator=(const TerminalAuthAgent&) = delete;

  // The agent was started and had not ended by the time it registered.
  bool Running() const { return Pid > 0; }

private:
  // Waits until the agent says it is registered (it closes the descriptor
  // it was given) or ends; false when it ended.
  bool AwaitRegistration(int notice);

  pid_t Pid = -1;
};

} // namespace quillo
