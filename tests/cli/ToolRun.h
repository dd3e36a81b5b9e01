// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real qdefrag binary with its output in files.
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

// A started qdefrag process.
class ToolProcess {
public:
  ToolProcess(const std::vector<std::string>& arguments, const std::filesystem::path& folder);
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  // Waits until standard error contains `text`; false when the process
  // ended first or the patience ran out.
  bool WaitForError(const std::string& text, std::chrono::seconds patience);
  void Signal(int signalNumber);
  ToolResult Wait();

private:
  pid_t Pid = -1;
  int Exit = -1;
  std::filesystem::path OutPath;
  std::filesystem::path ErrPath;
};

ToolResult RunTool(const std::vector<std::string>& arguments);

} // namespace quillo::test
