// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/CommandLine.h"

#include <utility>

namespace quillo::jobsched {

namespace {

constexpr char kQuote = '"';

std::string Joined(const std::vector<std::string>& words, std::string (*quote)(const std::string&)) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += quote(word);
  }
  return line;
}


// Desktop entry: inside the double quotes, " ` $ \ take a backslash; then
// the value's own escaping doubles every backslash, and field codes make
// "%" "%%".
std::string QuoteForDesktopEntry(const std::string& word) {
  std::string quoted(1, kQuote);
  for (char c : word) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += kQuote;
  std::string value;
  for (char c : quoted) {
    if (c == '\\') {
      value += "\\\\";
    } else if (c == '%') {
      value += "%%";
    } else {
      value += c;
    }
  }
  return value;
}

std::string QuoteWordForSystemd(const std::string& word, bool doubleDollars) {
  std::string quoted(1, kQuote);
  for (char c : word) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '%') {
      quoted += "%%";
    } else if (c == '$' && doubleDollars) {
      quoted += "$$";
    } else {
      quoted += c;
    }
  }
  quoted += kQuote;
  return quoted;
}

std::string QuoteProgramForSystemd(const std::string& path) {
  return QuoteWordForSystemd(path, false);
}

} // namespace

CommandLine::CommandLine(std::vector<std::string> words) : Arguments(std::move(words)) {}

std::optional<CommandLine> CommandLine::Make(const std::string& executable, const std::string& parameters) {
  if (executable.empty() || executable.front() != '/') return std::nullopt;
  std::vector<std::string> words{executable};
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : parameters) {
    if (c == kQuote) {
      quoted = !quoted;
      inWord = true;
    } else if (c == ' ' && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inWord) words.push_back(std::move(word));
  return CommandLine(std::move(words));
}

std::string CommandLine::QuoteForSystemd(const std::string& word) {
  return QuoteWordForSystemd(word, true);
}

std::string CommandLine::ForSystemd() const {
  // systemd expands variables in the arguments but not in the program's
  // path, so only the arguments get their "$" doubled.
  std::string line = QuoteProgramForSystemd(Arguments.front());
  for (size_t i = 1; i < Arguments.size(); ++i) line += " " + QuoteForSystemd(Arguments[i]);
  return line;
}

std::string CommandLine::ForDesktopEntry() const {
  return Joined(Arguments, &QuoteForDesktopEntry);
}

} // namespace quillo::jobsched
