// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/TerminalText.h"

#include "cli/Utf8Sequence.h"

namespace quillo {

namespace {
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr const char* kHexDigits = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;

void AppendEscaped(std::string& out, unsigned char byte) {
  out += "\\x";
  out += kHexDigits[byte >> kNibbleBits];
  out += kHexDigits[byte & kNibbleMask];
}
} // namespace

std::string EscapeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = Utf8SequenceLength(text, i);
    bool control = length == 1 && (c < kFirstPrintable || c == kDelete);
    if (length == 0 || control || IsC1Control(text, i, length)) {
      // A stray byte alone; a control character with all its bytes.
      size_t end = i + (length == 0 ? 1 : length);
      for (; i < end; ++i)
        AppendEscaped(out, static_cast<unsigned char>(text[i]));
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

} // namespace quillo
