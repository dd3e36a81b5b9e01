// SPDX-License-Identifier: GPL-2.0-or-later
#include "ToolRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestSupport.h"

extern char** environ;

namespace quillo::test {

namespace {
constexpr auto kPollStep = std::chrono::milliseconds(20);
constexpr int kFileMode = 0644;
constexpr int kSignalExitBase = 128;
constexpr const char* kHomeVariable = "QUILLODEFRAG_HOME";

int ExitOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : kSignalExitBase + WTERMSIG(status);
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
} // namespace

ToolProcess::ToolProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& folder, const std::filesystem::path& home)
    : OutPath(folder / "stdout"), ErrPath(folder / "stderr") {
  std::vector<std::string> all{program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  // The environment, with the configuration folder replaced.
  std::vector<std::string> variables;
  std::string prefix = std::string(kHomeVariable) + "=";
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) variables.emplace_back(*entry);
  variables.push_back(prefix + home.string());
  std::vector<char*> envp;
  for (std::string& variable : variables)
    envp.push_back(variable.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, OutPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, kFileMode);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, ErrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, kFileMode);
  int failed = posix_spawnp(&Pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + all[0]);
}

ToolProcess::~ToolProcess() {
  if (Pid > 0) {
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
  }
}

bool ToolProcess::WaitForError(const std::vector<std::string>& texts,
                               std::chrono::seconds patience) {
  auto deadline = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string error = ReadAll(ErrPath);
    for (const std::string& text : texts)
      if (error.find(text) != std::string::npos) return true;
    int status = 0;
    if (Pid > 0 && waitpid(Pid, &status, WNOHANG) == Pid) {
      Pid = -1;
      Exit = ExitOf(status);
    }
    if (Pid < 0) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return false;
}

void ToolProcess::Signal(int signalNumber) {
  if (Pid > 0) kill(Pid, signalNumber);
}

ToolResult ToolProcess::Wait() {
  ToolResult result;
  int status = 0;
  if (Pid > 0 && waitpid(Pid, &status, 0) == Pid) {
    Exit = ExitOf(status);
    Pid = -1;
  }
  result.Exit = Exit;
  result.Out = ReadAll(OutPath);
  result.Err = ReadAll(ErrPath);
  return result;
}

ToolResult RunTool(const std::vector<std::string>& arguments, const std::filesystem::path& home) {
  TempDir folder;
  std::filesystem::path configuration = home.empty() ? folder.Path() / "home" : home;
  ToolProcess process(QDEFRAG_PATH, arguments, folder.Path(), configuration);
  return process.Wait();
}

ToolResult RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  TempDir folder;
  ToolProcess process(program, arguments, folder.Path(), folder.Path() / "home");
  return process.Wait();
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

std::string Replaced(std::string text, const std::string& mark, const std::string& by) {
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + by.size()))
    text.replace(at, mark.size(), by);
  return text;
}

} // namespace quillo::test
