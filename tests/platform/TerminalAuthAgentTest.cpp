// SPDX-License-Identifier: GPL-2.0-or-later
// polkit's text agent is started for this process only for an attended run
// whose input is a terminal (a pseudo-terminal here), with the arguments
// that register it as a fallback for this process, and ended with the
// object. A stand-in agent on PATH records how it was started.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/TerminalAuthAgent.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kExecutable = 0755;

// A pseudo-terminal's two ends, closed with the object.
class PseudoTerminal {
public:
  PseudoTerminal() {
    Main = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Main < 0 || grantpt(Main) != 0 || unlockpt(Main) != 0) return;
    const char* name = ptsname(Main);
    if (name) Side = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~PseudoTerminal() {
    if (Side >= 0) close(Side);
    if (Main >= 0) close(Main);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  int Terminal() const { return Side; }

private:
  int Main = -1;
  int Side = -1;
};

// PATH with a folder of the test's first, as long as the object lives.
class PathFirst {
public:
  explicit PathFirst(const fs::path& folder) {
    const char* old = getenv("PATH");
    Old = old ? old : "";
    setenv("PATH", (folder.string() + ":" + Old).c_str(), 1);
  }
  ~PathFirst() { setenv("PATH", Old.c_str(), 1); }
  PathFirst(const PathFirst&) = delete;
  PathFirst& operator=(const PathFirst&) = delete;

private:
  std::string Old;
};

std::vector<std::string> Lines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class TerminalAuthAgentTest : public ::testing::Test {
protected:
  void SetUp() override {
    Bin = Folder.Path() / "bin";
    Log = Folder.Path() / "agent.log";
    fs::create_directories(Bin);
  }

  // The stand-in: records its process id and arguments, closes the
  // descriptor it is to close once registered, and waits to be ended.
  void InstallAgent() {
    fs::path agent = Bin / TerminalAuthAgent::kProgram;
    std::ofstream(agent) << "#!/bin/bash\n"
                            "echo $$ > '" << Log.string() << "'\n"
                            "for argument in \"$@\"; do echo \"$argument\"; done >> '"
                         << Log.string() << "'\n"
                            "while [ $# -gt 0 ]; do\n"
                            "  if [ \"$1\" = --notify-fd ]; then eval \"exec $2>&-\"; fi\n"
                            "  shift\n"
                            "done\n"
                            "exec sleep 600\n";
    fs::permissions(agent, fs::perms(kExecutable));
  }

  TempDir Folder;
  fs::path Bin;
  fs::path Log;
};

TEST_F(TerminalAuthAgentTest, StartsOnlyForAnAttendedRunAtATerminal) {
  InstallAgent();
  PathFirst path(Bin);
  PseudoTerminal terminal;
  ASSERT_GE(terminal.Terminal(), 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);

  struct Case {
    const char* Name;
    bool Attended;
    int Input;
    bool Started;
  };
  for (const Case& run : {Case{"attended, at a terminal", true, terminal.Terminal(), true},
                          Case{"unattended, at a terminal", false, terminal.Terminal(), false},
                          Case{"attended, input from a pipe", true, pipeEnds[0], false}}) {
    SCOPED_TRACE(run.Name);
    fs::remove(Log);
    pid_t agentPid = -1;
    {
      TerminalAuthAgent agent(run.Attended, run.Input);
      EXPECT_EQ(agent.Running(), run.Started);
      std::vector<std::string> lines = Lines(Log);
      if (!run.Started) {
        EXPECT_TRUE(lines.empty());
        continue;
      }
      ASSERT_EQ(lines.size(), 6u);
      agentPid = std::stoi(lines[0]);
      std::vector<std::string> arguments(lines.begin() + 1, lines.end());
      EXPECT_EQ(arguments[0], "--process");
      EXPECT_EQ(arguments[1], std::to_string(getpid()));
      EXPECT_EQ(arguments[2], "--notify-fd");
      EXPECT_EQ(arguments[4], "--fallback");
      EXPECT_EQ(kill(agentPid, 0), 0) << "the agent runs while the object lives";
    }
    // Ended and reaped with the object.
    EXPECT_EQ(kill(agentPid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
  }
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

TEST_F(TerminalAuthAgentTest, WithoutTheAgentNothingWaits) {
  // An empty folder first, and nothing else: no agent anywhere.
  const char* old = getenv("PATH");
  std::string saved = old ? old : "";
  setenv("PATH", Bin.c_str(), 1);
  PseudoTerminal terminal;
  ASSERT_GE(terminal.Terminal(), 0);
  {
    TerminalAuthAgent agent(true, terminal.Terminal());
    EXPECT_FALSE(agent.Running());
  }
  setenv("PATH", saved.c_str(), 1);
}

} // namespace
} // namespace quillo::test
