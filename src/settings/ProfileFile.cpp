// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/ProfileFile.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "settings/AtomicWrite.h"
#include "settings/ProfileWriteError.h"
#include "settings/TextEncoding.h"

namespace quillo {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kLineBreaks = std::string_view("\r\n\0", 3);
constexpr char kCommentMark = ';';
constexpr char kSectionOpen = '[';
constexpr char kSectionClose = ']';
constexpr char kKeySeparator = '=';
// Profile files are small; anything larger is not one of ours.
constexpr std::uintmax_t kMaxFileBytes = 16u << 20;

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// A byte-order mark, a zero byte first (UTF-16 big-endian), or a character
// and then a zero byte (little-endian). No profile text has a zero byte in
// its first two, and a file that does is never written: lines added after
// it would make it read back as UTF-16 and be ignored as a whole.
bool LooksLikeUtf16Text(std::string_view text) {
  if (text.substr(0, 2) == kUtf16LittleEndianMark || text.substr(0, 2) == kUtf16BigEndianMark)
    return true;
  return text.substr(0, 2).find('\0') != std::string_view::npos;
}

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The value a reader sees: trimmed, one pair of enclosing quotes removed so
// that a text can begin or end with blanks, and capped in length without
// splitting a UTF-8 sequence.
std::string ReadableValue(std::string_view raw) {
  std::string_view value = Trim(raw);
  if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > ProfileFile::kMaxValueLength) {
    size_t cut = ProfileFile::kMaxValueLength;
    if (IsValidUtf8(value)) {
      while (cut > 0 && IsUtf8Continuation(value[cut])) --cut;
    }
    value = value.substr(0, cut);
  }
  return std::string(value);
}

void RequireName(std::string_view name, std::string_view forbidden) {
  if (Trim(name).empty() || name.find_first_of(kLineBreaks) != std::string_view::npos ||
      name.find_first_of(forbidden) != std::string_view::npos) {
    throw std::invalid_argument("invalid profile name: " + std::string(name));
  }
}

} // namespace

ProfileFile::Line ProfileFile::Classify(std::string text) {
  Line line;
  const std::string_view trimmed = Trim(text);
  if (!trimmed.empty() && trimmed.front() == kSectionOpen) {
    const size_t close = trimmed.rfind(kSectionClose);
    if (close != std::string_view::npos && close > 0) {
      line.Kind = LineKind::Section;
      line.Name = std::string(Trim(trimmed.substr(1, close - 1)));
    }
  } else if (!trimmed.empty() && trimmed.front() != kCommentMark) {
    const size_t separator = trimmed.find(kKeySeparator);
    if (separator != std::string_view::npos) {
      const std::string_view key = Trim(trimmed.substr(0, separator));
      if (!key.empty()) {
        line.Kind = LineKind::Key;
        line.Name = std::string(key);
        line.RawValue = std::string(trimmed.substr(separator + 1));
      }
    }
  }
  line.Text = std::move(text);
  return line;
}

ProfileFile ProfileFile::Parse(std::string_view text) {
  ProfileFile profile;
  profile.Utf16 = LooksLikeUtf16Text(text);
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    profile.ByteOrderMark = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  const size_t firstBreak = text.find('\n');
  if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r') {
    profile.Newline = "\r\n";
  }
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view lineText = text.substr(0, end);
    if (!lineText.empty() && lineText.back() == '\r') lineText.remove_suffix(1);
    profile.Lines.push_back(Classify(std::string(lineText)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return profile;
}

std::string ReadFileBytes(const fs::path& path, std::error_code& error) {
  error.clear();
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) {
    error = std::make_error_code(std::errc::no_such_file_or_directory);
    return {};
  }
  if (error) return {};
  if (!fs::is_regular_file(status)) {
    error = std::make_error_code(std::errc::invalid_argument);
    return {};
  }
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return {};
  if (size > kMaxFileBytes) {
    error = std::make_error_code(std::errc::file_too_large);
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    return {};
  }
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    error = std::make_error_code(std::errc::io_error);
    return {};
  }
  return text;
}

ProfileFile ProfileFile::Load(const fs::path& path, std::error_code& error) {
  const std::string text = ReadFileBytes(path, error);
  if (error == std::errc::no_such_file_or_directory) error.clear();
  if (error) return {};
  return Parse(text);
}

ProfileFile ProfileFile::Load(const fs::path& path) {
  std::error_code ignored;
  return Load(path, ignored);
}

template <typename Visitor>
void ProfileFile::VisitKeys(std::string_view section, Visitor&& visit) const {
  bool inSection = false;
  for (size_t i = 0; i < Lines.size(); ++i) {
    const Line& line = Lines[i];
    if (line.Kind == LineKind::Section) {
      inSection = EqualsIgnoringCase(line.Name, section);
    } else if (line.Kind == LineKind::Key && inSection) {
      if (!visit(i, line)) return;
    }
  }
}

void ProfileFile::DeleteKey(std::string_view section, std::string_view key) {
  std::vector<size_t> doomed;
  VisitKeys(section, [&](size_t index, const Line& line) {
    if (EqualsIgnoringCase(line.Name, key)) doomed.push_back(index);
    return true;
  });
  for (size_t i = doomed.size(); i-- > 0;)
    Lines.erase(Lines.begin() + static_cast<std::ptrdiff_t>(doomed[i]));
}

std::optional<std::string> ProfileFile::Find(std::string_view section, std::string_view key) const {
  std::optional<std::string> found;
  VisitKeys(section, [&](size_t, const Line& line) {
    if (!EqualsIgnoringCase(line.Name, key)) return true;
    found = ReadableValue(line.RawValue);
    return false;
  });
  return found;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  if (auto value = Find(section, key)) return std::move(*value);
  return std::string(defaultValue);
}

bool ProfileFile::ValueExists(std::string_view section, std::string_view key) const {
  return Find(section, key).has_value();
}

std::vector<std::string> ProfileFile::Sections() const {
  std::vector<std::string> names;
  for (const Line& line : Lines) {
    if (line.Kind != LineKind::Section) continue;
    const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
      return EqualsIgnoringCase(name, line.Name);
    });
    if (!known) names.push_back(line.Name);
  }
  return names;
}

std::vector<std::string> ProfileFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  VisitKeys(section, [&](size_t, const Line& line) {
    const bool known = std::any_of(keys.begin(), keys.end(), [&](const std::string& key) {
      return EqualsIgnoringCase(key, line.Name);
    });
    if (!known) keys.push_back(line.Name);
    return true;
  });
  return keys;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  RequireName(section, std::string_view(&kSectionClose, 1));
  RequireName(key, std::string_view(&kKeySeparator, 1));
  std::string safeValue(value);
  std::replace_if(
      safeValue.begin(), safeValue.end(),
      [](char c) { return kLineBreaks.find(c) != std::string_view::npos; }, ' ');

  // An existing key keeps its spelling and its place.
  std::optional<size_t> existing;
  VisitKeys(section, [&](size_t index, const Line& line) {
    if (!EqualsIgnoringCase(line.Name, key)) return true;
    existing = index;
    return false;
  });
  if (existing) {
    Lines[*existing] = Classify(Lines[*existing].Name + kKeySeparator + safeValue);
    return;
  }

  Line newLine = Classify(std::string(key) + kKeySeparator + safeValue);
  // A new key goes after the last key of the first section of that name, so
  // blank lines and comments before the next section stay where they are.
  std::optional<size_t> insertAfter;
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (Lines[i].Kind != LineKind::Section) continue;
    if (insertAfter) break;
    if (!EqualsIgnoringCase(Lines[i].Name, section)) continue;
    insertAfter = i;
    for (size_t k = i + 1; k < Lines.size() && Lines[k].Kind != LineKind::Section; ++k) {
      if (Lines[k].Kind == LineKind::Key) insertAfter = k;
    }
  }
  if (insertAfter) {
    Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(*insertAfter + 1),
                 std::move(newLine));
    return;
  }

  if (!Lines.empty() && !Trim(Lines.back().Text).empty()) Lines.push_back(Classify(""));
  Lines.push_back(Classify(kSectionOpen + std::string(section) + kSectionClose));
  Lines.push_back(std::move(newLine));
}

std::vector<ProfileFile::SkippedLine> ProfileFile::SkippedLines() const {
  std::vector<SkippedLine> skipped;
  bool inSection = false;
  for (size_t i = 0; i < Lines.size(); ++i) {
    const Line& line = Lines[i];
    const std::string_view trimmed = Trim(line.Text);
    std::string why;
    if (line.Kind == LineKind::Section) {
      inSection = true;
    } else if (line.Kind == LineKind::Key) {
      if (!inSection) why = "comes before any [section]";
    } else if (trimmed.empty() || trimmed.front() == kCommentMark) {
      // Blank lines and comments are meant to be skipped.
    } else if (trimmed.front() == kSectionOpen) {
      why = "has no closing ']'";
    } else if (trimmed.front() == kKeySeparator) {
      why = "has no key before '='";
    } else {
      why = "is neither a [section] nor a key=value line";
    }
    if (!why.empty()) skipped.push_back({i + 1, line.Text, why});
  }
  return skipped;
}

std::string ProfileFile::Text() const {
  std::string text;
  if (ByteOrderMark) text += kByteOrderMark;
  for (const Line& line : Lines) {
    text += line.Text;
    text += Newline;
  }
  return text;
}

void ProfileFile::Save(const fs::path& path) const {
  if (WriteFileAtomically(path, Text())) throw ProfileWriteError(path);
}

std::string ReadProfileString(const fs::path& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
  return ProfileFile::Load(path).ReadString(section, key, defaultValue);
}

void WriteProfileString(const fs::path& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::error_code error;
  ProfileFile profile = ProfileFile::Load(path, error);
  // Rewriting a file that could not be read would drop everything in it.
  if (error) throw ProfileWriteError(path);
  profile.WriteString(section, key, value);
  profile.Save(path);
}

} // namespace quillo
