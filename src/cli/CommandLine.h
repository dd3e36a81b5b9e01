// SPDX-License-Identifier: GPL-2.0-or-later
// The command line of qdefrag, parsed the GNU way: options before or after
// the subcommand and the targets, long options with "=" or a separate
// argument and in any unambiguous abbreviation, bundled short options, and
// "--" ending the options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillo {

enum class Subcommand { None, List, Analyze, Defrag, Window };
enum class SortKey { None, Name, Fragments, Clusters, Result };
enum class ColorChoice { Auto, Always, Never };

struct CommandLine {
  Subcommand Command = Subcommand::None;
  bool Help = false;
  bool Version = false;
  bool Optimize = false;
  std::vector<std::string> Targets;
  std::vector<std::string> Excludes;
  int64_t SizeLimit = 0; // bytes; 0 = no limit
  bool Json = false;
  bool Map = false;
  bool Quiet = false;
  // A mounted target is unmounted through the desktop's disk service for
  // the work, and mounted again afterwards.
  bool Unmount = false;
  SortKey Sort = SortKey::None;
  ColorChoice Color = ColorChoice::Auto;
  // window: the message for the running window (1124, 1125 or 1126), 0
  // while none was asked for.
  int WindowMessage = 0;
};

// Raises UsageError with a message for the user.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "500M", "2G", "4096", "1.5G", "10k", "2GiB": bytes, with binary multiples.
// Empty when the text is no size, or a size of 2^63 bytes or more (then
// `tooLarge` is set).
std::optional<int64_t> ParseSize(const std::string& text);
std::optional<int64_t> ParseSize(const std::string& text, bool& tooLarge);

// The text of --help.
std::string UsageText();

} // namespace quillo
