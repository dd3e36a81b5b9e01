// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/Systemctl.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace quillo::jobsched {

namespace {

constexpr const char* kProgramVariable = "JOBSCHED_SYSTEMCTL";
constexpr const char* kDefaultProgram = "systemctl";
constexpr const char* kUserSwitch = "--user";
constexpr const char* kNullDevice = "/dev/null";
constexpr long kTimeLimitMilliseconds = 5000;
constexpr long kPollMilliseconds = 10;
constexpr long kNanosecondsPerMillisecond = 1'000'000;
constexpr long kMillisecondsPerSecond = 1000;

long MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return long(now.tv_sec) * kMillisecondsPerSecond + now.tv_nsec / kNanosecondsPerMillisecond;
}

// Child gone: reaped here, or by a handler of the host program.
bool Reaped(pid_t child, int options) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(child, &status, options);
  } while (result < 0 && errno == EINTR);
  return result == child || (result < 0 && errno == ECHILD);
}

} // namespace

Systemctl::Outcome Systemctl::Run(const std::vector<std::string>& arguments) {
  const char* override = std::getenv(kProgramVariable);
  if (override != nullptr && *override == '\0') return Outcome::NotRun;
  const std::string program = override != nullptr ? override : kDefaultProgram;

  std::vector<std::string> words{program, kUserSwitch};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return Outcome::NotRun;
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, kNullDevice, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, kNullDevice, O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, kNullDevice, O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return Outcome::NotRun;

  const long deadline = MonotonicMilliseconds() + kTimeLimitMilliseconds;
  const timespec pause{0, kPollMilliseconds * kNanosecondsPerMillisecond};
  while (!Reaped(child, WNOHANG)) {
    if (MonotonicMilliseconds() >= deadline) {
      kill(child, SIGKILL);
      Reaped(child, 0);
      return Outcome::TimedOut;
    }
    nanosleep(&pause, nullptr);
  }
  return Outcome::Finished;
}

void Systemctl::RunAll(const std::vector<std::vector<std::string>>& commands) {
  for (const auto& command : commands) {
    if (Run(command) != Outcome::Finished) return;
  }
}

} // namespace quillo::jobsched
