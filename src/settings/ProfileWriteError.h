// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quillo {

// Raised when a profile file cannot be written; the text names the file and
// reaches the user through the application's general error report.
class ProfileWriteError : public std::runtime_error {
public:
  explicit ProfileWriteError(const std::filesystem::path& path)
      : std::runtime_error("Unable to write to " + path.string()), File(path) {}
  const std::filesystem::path& Path() const { return File; }

private:
  std::filesystem::path File;
};

} // namespace quillo
