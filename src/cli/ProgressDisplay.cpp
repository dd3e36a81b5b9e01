// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/ProgressDisplay.h"

#include "cli/TerminalText.h"

namespace quillo {

namespace {
constexpr auto kPlainInterval = std::chrono::seconds(1);
constexpr size_t kPlainFileWidth = 60;
constexpr size_t kShortestShortened = 8;
constexpr const char* kEllipsis = "...";
constexpr const char* kClearLine = "\x1b[2K";
constexpr const char* kClearBelow = "\x1b[J";

// UTF-8 code points, so that names are never cut inside a character.
std::vector<std::string> CodePoints(const std::string& text) {
  std::vector<std::string> points;
  for (unsigned char c : text) {
    if ((c & 0xC0) == 0x80 && !points.empty())
      points.back() += char(c);
    else
      points.emplace_back(1, char(c));
  }
  return points;
}

std::string CursorUp(size_t lines) {
  return "\x1b[" + std::to_string(lines) + "F";
}
} // namespace

ProgressDisplay::ProgressDisplay(std::ostream& out, bool live, int columns)
    : Out(out), Live(live), Columns(columns) {}

std::string ProgressDisplay::Shorten(const std::string& text, size_t width) {
  std::vector<std::string> points = CodePoints(text);
  if (points.size() <= width) return text;
  if (width < kShortestShortened) return "";
  size_t keep = width - std::string(kEllipsis).size();
  // More of the end: the file's own name matters most.
  size_t head = keep / 3;
  size_t tail = keep - head;
  std::string shortened;
  for (size_t i = 0; i < head; ++i)
    shortened += points[i];
  shortened += kEllipsis;
  for (size_t i = points.size() - tail; i < points.size(); ++i)
    shortened += points[i];
  return shortened;
}

std::string ProgressDisplay::Compose(const ProgressItem& item, size_t width) const {
  // Escaped before the widths are counted: an escape takes its room.
  std::string line = EscapeForTerminal(item.Head) + "  " + EscapeForTerminal(item.Status);
  if (!item.Remaining.empty()) line += "  " + item.Remaining;
  if (!item.File.empty()) {
    size_t used = CodePoints(line).size() + 2;
    size_t room = width > used ? width - used : 0;
    if (!Live) room = kPlainFileWidth;
    std::string file = Shorten(EscapeForTerminal(item.File), room);
    if (!file.empty()) line += "  " + file;
  }
  return line;
}

void ProgressDisplay::Redraw(const std::vector<ProgressItem>& items) {
  // One column short of the edge, so that a full line never wraps.
  size_t width = Columns > 1 ? size_t(Columns - 1) : kPlainFileWidth;
  if (Drawn > 0) Out << CursorUp(Drawn);
  for (const ProgressItem& item : items)
    Out << kClearLine << Compose(item, width) << "\n";
  Drawn = items.size();
  Out.flush();
}

void ProgressDisplay::Show(const std::vector<ProgressItem>& items, Clock::time_point now) {
  LastItems = items;
  if (Live) {
    Redraw(items);
    return;
  }
  PrintedLines.resize(items.size());
  PrintedFinal.resize(items.size(), false);
  bool due = now - LastPlain >= kPlainInterval;
  bool printed = false;
  for (size_t i = 0; i < items.size(); ++i) {
    const ProgressItem& item = items[i];
    if (PrintedFinal[i]) continue;
    std::string line = Compose(item, 0);
    // A volume's last line always comes; the others when a second has passed.
    if (!item.Final && (!due || line == PrintedLines[i])) continue;
    Out << line << "\n";
    PrintedLines[i] = line;
    PrintedFinal[i] = item.Final;
    printed = true;
  }
  if (printed) {
    LastPlain = now;
    Out.flush();
  }
}

void ProgressDisplay::Message(const std::string& text) {
  if (Live && Drawn > 0) {
    Out << CursorUp(Drawn) << kClearBelow;
    Drawn = 0;
  }
  Out << EscapeForTerminal(text) << "\n";
  if (Live && !LastItems.empty()) Redraw(LastItems);
  Out.flush();
}

} // namespace quillo
