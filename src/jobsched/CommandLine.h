// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillo::jobsched {

// A program and its arguments, written the way a systemd unit or an XDG
// desktop entry reads them back.
class CommandLine {
public:
  // `executable` must be an absolute path. `parameters` are split at blanks;
  // double quotes group words ("a b" is one argument) and are removed.
  // Empty when the path is not absolute or a quote is left open.
  static std::optional<CommandLine> Make(const std::string& executable, const std::string& parameters);

  const std::vector<std::string>& Words() const { return Arguments; }
  // For ExecStart=: every word quoted, with systemd's specifier signs
  // doubled, and its variable signs in the arguments.
  std::string ForSystemd() const;
  // For Exec= of a desktop entry.
  std::string ForDesktopEntry() const;

  // One argument (not the program) quoted for a systemd command line.
  static std::string QuoteForSystemd(const std::string& word);

private:
  explicit CommandLine(std::vector<std::string> words);

  std::vector<std::string> Arguments; // the program first
};

} // namespace quillo::jobsched
