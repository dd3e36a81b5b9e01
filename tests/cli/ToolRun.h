// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real qdefrag binary, or a helper program, with its output in
// files and its configuration in a folder of the test's own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quillo::test {

struct ToolResult {
  int Exit = -1;
  std::string Out;
  std::string Err;
  nlohmann::json Json() const { return nlohmann::json::parse(Out); }
};

// A started process. qdefrag's configuration folder (drives.ini) is
// `home`, never the user's.
class ToolProcess {
public:
  ToolProcess(const std::string& program, const std::vector<std::string>& arguments,
              const std::filesystem::path& folder, const std::filesystem::path& home);
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  // Waits until standard error contains one of `texts`; false when the
  // process ended first or the patience ran out.
  bool WaitForError(const std::vector<std::string>& texts, std::chrono::seconds patience);
  void Signal(int signalNumber);
  ToolResult Wait();

private:
  pid_t Pid = -1;
  int Exit = -1;
  std::filesystem::path OutPath;
  std::filesystem::path ErrPath;
};

// qdefrag with a configuration folder under `home` (a fresh one when empty).
ToolResult RunTool(const std::vector<std::string>& arguments,
                   const std::filesystem::path& home = {});

// How often `part` occurs in `text` (overlaps counted).
size_t Count(const std::string& text, const std::string& part);
// `text` with every `mark` replaced by `by`.
std::string Replaced(std::string text, const std::string& mark, const std::string& by);

// Any program, found on PATH.
ToolResult RunProgram(const std::string& program, const std::vector<std::string>& arguments);

} // namespace quillo::test
