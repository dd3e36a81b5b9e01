// SPDX-License-Identifier: GPL-2.0-or-later
// Text files in the Windows profile ("INI") form, read and written with the
// rules the settings and language files rely on:
// - "[name]" opens a section; "key=value" sets a key; section and key names
//   compare without regard to (ASCII) case;
// - a value loses surrounding blanks and then one pair of enclosing single
//   or double quotation marks, and is cut to kMaxValueLength bytes;
// - lines whose first non-blank character is ";" are comments, and lines
//   that are neither a section header nor a key line are skipped;
// - when a section appears more than once, the first key found in file order
//   answers a read and is the one a write replaces;
// - a write replaces an existing key's line in place, or adds the key at the
//   end of its section, or adds the section at the end of the file, leaving
//   every other line as it was.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quillo {

class ProfileFile {
public:
  static constexpr size_t kMaxValueLength = 2047;

  ProfileFile() = default;

  // A line that no read ever sees, although it is neither blank nor a
  // comment: its 1-based number, its text and why.
  struct SkippedLine {
    size_t Number = 0;
    std::string Text;
    std::string Why;
  };

  // Parses text; a leading UTF-8 byte-order mark is skipped and kept for Text.
  static ProfileFile Parse(std::string_view text);

  // Reads a file as it is on the disk. A missing file is an empty profile
  // with no error; a file that exists but cannot be read is an empty profile
  // and the error.
  static ProfileFile Load(const std::filesystem::path& path, std::error_code& error);
  static ProfileFile Load(const std::filesystem::path& path);

  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  // Section names as spelt at their first header, in file order.
  std::vector<std::string> Sections() const;
  // Key names of a section as spelt, in file order, each once.
  std::vector<std::string> Keys(std::string_view section) const;

  // Line breaks in `value` would start new lines in the file; they are
  // written as blanks. Section and key names must be non-empty single-line
  // names (std::invalid_argument otherwise).
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Removes every line of the key in the section; the rest stays as it is.
  void DeleteKey(std::string_view section, std::string_view key);

  std::string Text() const;

  // For callers that tell the user about a file they wrote by hand. The
  // rules above are kept: such lines are still skipped.
  // Lines that are not a section header ("[name" without its "]"), not a
  // key line (no "=", or nothing before it), or key lines before the first
  // section.
  std::vector<SkippedLine> SkippedLines() const;
  // The text began with a UTF-16 byte-order mark (FF FE or FE FF), or looks
  // like UTF-16 without one: nothing in it can be read.
  bool LooksLikeUtf16() const { return Utf16; }

  // Replaces the file crash-safely; raises ProfileWriteError.
  void Save(const std::filesystem::path& path) const;

private:
  enum class LineKind { Other, Section, Key };
  struct Line {
    std::string Text;
    LineKind Kind = LineKind::Other;
    std::string Name; // section name or key name, trimmed, as spelt
    std::string RawValue;
  };

  static Line Classify(std::string text);
  template <typename Visitor> void VisitKeys(std::string_view section, Visitor&& visit) const;

  std::vector<Line> Lines;
  std::string Newline = "\n";
  bool ByteOrderMark = false;
  bool Utf16 = false;
};

// The bytes of a file as they are on the disk. A missing file gives an empty
// text and no_such_file_or_directory; profile files are small, and a file
// above a few megabytes is refused as file_too_large.
std::string ReadFileBytes(const std::filesystem::path& path, std::error_code& error);

// Single-call counterparts of the platform's profile functions: each opens
// the file, reads or writes one key, and closes it. A failed write raises
// ProfileWriteError.
std::string ReadProfileString(const std::filesystem::path& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue);
void WriteProfileString(const std::filesystem::path& path, std::string_view section,
                        std::string_view key, std::string_view value);

} // namespace quillo
