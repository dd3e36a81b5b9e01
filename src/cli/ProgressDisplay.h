// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace quillo {

struct ProgressItem {
  std::string Head;      // "Q: demo:"
  std::string Status;    // "Optimizing 45%"
  std::string Remaining; // "Left time: 0:0:12" while defragmenting
  std::string File;      // the file being worked on
  bool Final = false;    // the volume is done; this is its last line
};

// Progress on standard error. On a terminal one live line per volume,
// redrawn in place; otherwise plain lines, at most once a second, and each
// volume's last line once.
class ProgressDisplay {
public:
  using Clock = std::chrono::steady_clock;

  ProgressDisplay(std::ostream& out, bool live, int columns);

  void Show(const std::vector<ProgressItem>& items, Clock::time_point now);
  // A message printed above the live lines.
  void Message(const std::string& text);

  // The file name cut in the middle to `width` characters.
  static std::string Shorten(const std::string& text, size_t width);

private:
  // The line, fitted to `width` columns on a terminal.
  std::string Compose(const ProgressItem& item, size_t width) const;
  void Redraw(const std::vector<ProgressItem>& items);

  std::ostream& Out;
  bool Live;
  int Columns;
  size_t Drawn = 0;
  std::vector<ProgressItem> LastItems;
  std::vector<std::string> PrintedLines;
  std::vector<bool> PrintedFinal;
  Clock::time_point LastPlain{};
};

} // namespace quillo
