// SPDX-License-Identifier: GPL-2.0-or-later
// Every task test runs against a fresh configuration folder, with a
// stand-in for systemctl that only records its arguments: the user's own
// service manager and files are never touched.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "jobsched/JobSched.h"

namespace quillo::test {

// Sets or clears an environment variable for one test and restores it.
class EnvironmentVariable {
public:
  EnvironmentVariable(const char* name, const std::optional<std::string>& value) : Name(name) {
    if (const char* old = std::getenv(name)) Previous = old;
    Set(value);
  }
  ~EnvironmentVariable() { Set(Previous); }
  EnvironmentVariable(const EnvironmentVariable&) = delete;
  EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

  void Set(const std::optional<std::string>& value) {
    if (value) {
      setenv(Name, value->c_str(), 1);
    } else {
      unsetenv(Name);
    }
  }

private:
  const char* Name;
  std::optional<std::string> Previous;
};

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline void WriteScript(const std::filesystem::path& path, const std::string& body) {
  WriteText(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

// The value of `key=` on its own line of a unit or task file.
inline std::optional<std::string> Setting(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return std::nullopt;
}

class TaskFixture : public ::testing::Test {
protected:
  TaskFixture()
      : Config(Folder.Path() / "config"),
        ConfigHome("XDG_CONFIG_HOME", Config.string()),
        Home("HOME", (Folder.Path() / "home").string()),
        Systemctl("JOBSCHED_SYSTEMCTL", (Folder.Path() / "bin" / "systemctl").string()) {
    WriteScript(Folder.Path() / "bin" / "systemctl", "echo \"$*\" >> '" + CallLog().string() + "'\n");
  }

  std::filesystem::path CallLog() const { return Folder.Path() / "systemctl.log"; }
  // The recorded systemctl calls, one line each.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    std::istringstream lines(ReadText(CallLog()));
    std::string line;
    while (std::getline(lines, line)) calls.push_back(line);
    return calls;
  }
  void ForgetCalls() const { std::filesystem::remove(CallLog()); }

  std::filesystem::path Units() const { return Config / "systemd" / "user"; }
  std::filesystem::path Autostart() const { return Config / "autostart"; }
  std::filesystem::path Tasks() const { return Config / "jobsched"; }
  // Every file below the configuration folder, relative to it.
  std::vector<std::string> ConfigFiles() const {
    std::vector<std::string> files;
    if (!std::filesystem::exists(Config)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Config)) {
      if (entry.is_regular_file()) files.push_back(std::filesystem::relative(entry.path(), Config).string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  static std::string TaskTime(const char16_t* name) {
    std::u16string text = GetTaskTime(name);
    return std::string(text.begin(), text.end()); // the descriptions are ASCII
  }

  TempDir Folder;
  std::filesystem::path Config;
  EnvironmentVariable ConfigHome;
  EnvironmentVariable Home;
  EnvironmentVariable Systemctl;
};

} // namespace quillo::test
