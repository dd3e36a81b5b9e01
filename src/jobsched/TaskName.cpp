// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/TaskName.h"

#include <utility>

#include "jobsched/TaskText.h"

namespace quillo::jobsched {

namespace {

// Unit names are at most 255 characters; this leaves room for ".service".
constexpr size_t kMaxStemLength = 200;
constexpr char kHexDigits[] = "0123456789abcdef";

bool KeepsAsIs(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':';
}

} // namespace

TaskName::TaskName(std::string original, std::string stem)
    : Original(std::move(original)), UnitStem(std::move(stem)) {}

std::optional<TaskName> TaskName::FromCaller(const char16_t* name) {
  auto text = TaskText::FromCaller(name);
  if (!text) return std::nullopt;
  return FromText(*text);
}

std::optional<TaskName> TaskName::FromText(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::string stem;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == '.') c = '-';
    if (KeepsAsIs(c)) {
      stem += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      stem += "\\x";
      stem += kHexDigits[byte >> 4];
      stem += kHexDigits[byte & 0xF];
    }
  }
  // A leading "-" would read as an option on systemctl's command line.
  if (stem.size() > kMaxStemLength || stem.front() == '-') return std::nullopt;
  return TaskName(name, std::move(stem));
}

} // namespace quillo::jobsched
