// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/TerminalAuthAgent.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

namespace quillo {

namespace {
// The agent registers with polkit within moments; a bus that does not
// answer must not hold the run up for long.
constexpr int kRegistrationPatienceMs = 5000;
constexpr int kExecFailed = 127;
} // namespace

TerminalAuthAgent::TerminalAuthAgent(bool attended, int input) {
  if (!attended || isatty(input) != 1) return;
  // `notice`: the agent closes its end once registered. `started`: closed
  // by a successful exec, written to when the program is not there.
  int notice[2];
  int started[2];
  if (pipe2(notice, O_CLOEXEC) != 0) return;
  if (pipe2(started, O_CLOEXEC) != 0) {
    close(notice[0]);
    close(notice[1]);
    return;
  }
  // The agent's own copy of the notice's end, kept across the exec; made
  // and named before the fork, so that the child only execs.
  int agentEnd = fcntl(notice[1], F_DUPFD, 0);
  close(notice[1]);
  std::string process = std::to_string(getpid());
  std::string fd = std::to_string(agentEnd);
  const char* argv[] = {kProgram, "--process", process.c_str(), "--notify-fd", fd.c_str(),
                        "--fallback", nullptr};
  pid_t child = agentEnd >= 0 ? fork() : -1;
  if (child == 0) {
    execvp(kProgram, const_cast<char* const*>(argv));
    int error = errno;
    ssize_t written = write(started[1], &error, sizeof error);
    (void)written;
    _exit(kExecFailed);
  }
  if (agentEnd >= 0) close(agentEnd);
  close(started[1]);
  if (child > 0) {
    Pid = child;
    int error = 0;
    ssize_t got;
    do {
      got = read(started[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got != 0 || !AwaitRegistration(notice[0])) {
      waitpid(Pid, nullptr, 0);
      Pid = -1;
    }
  }
  close(started[0]);
  close(notice[0]);
}

bool TerminalAuthAgent::AwaitRegistration(int notice) {
  pollfd wait{notice, POLLIN, 0};
  char byte = 0;
  while (true) {
    int ready = poll(&wait, 1, kRegistrationPatienceMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return true; // no word: it may still answer prompts
    ssize_t got = read(notice, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got > 0) continue; // anything before the close is not the notice
    break;
  }
  // Closed: registered, or ended (not installed, no polkit on the bus).
  int status = 0;
  return waitpid(Pid, &status, WNOHANG) == 0;
}

TerminalAuthAgent::~TerminalAuthAgent() {
  if (Pid <= 0) return;
  kill(Pid, SIGTERM);
  waitpid(Pid, nullptr, 0);
}

} // namespace quillo
