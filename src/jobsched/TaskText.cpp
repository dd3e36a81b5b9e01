// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/TaskText.h"

namespace quillo::jobsched {

namespace {

constexpr char32_t kFirstPrintable = 0x20;
constexpr char32_t kDelete = 0x7F;
constexpr char32_t kLastC1Control = 0x9F;
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateEnd = 0xE000;
constexpr char32_t kSupplementaryFirst = 0x10000;
constexpr char32_t kReplacement = 0xFFFD;
// Longer names, paths and parameters are refused rather than written.
constexpr size_t kMaxUnits = 4096;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < kSupplementaryFirst) {
    out += char16_t(c);
    return;
  }
  c -= kSupplementaryFirst;
  out += char16_t(kHighSurrogateFirst + (c >> 10));
  out += char16_t(kLowSurrogateFirst + (c & 0x3FF));
}

bool IsControl(char32_t c) {
  return c < kFirstPrintable || (c >= kDelete && c <= kLastC1Control);
}

} // namespace

std::optional<std::string> TaskText::FromCaller(const char16_t* text) {
  if (text == nullptr) return std::nullopt;
  std::string out;
  for (size_t i = 0; text[i] != 0; ++i) {
    if (i >= kMaxUnits) return std::nullopt;
    char32_t c = text[i];
    if (c >= kHighSurrogateFirst && c < kLowSurrogateFirst) {
      const char32_t low = text[i + 1];
      if (low < kLowSurrogateFirst || low >= kSurrogateEnd) return std::nullopt;
      c = kSupplementaryFirst + ((c - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
      ++i;
    } else if (c >= kLowSurrogateFirst && c < kSurrogateEnd) {
      return std::nullopt;
    }
    if (IsControl(c)) return std::nullopt;
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string TaskText::ToCaller(const std::string& utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > utf8.size()) {
      out += char16_t(kReplacement);
      ++i;
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = true;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid || c > 0x10FFFF || (c >= kHighSurrogateFirst && c < kSurrogateEnd)) {
      out += char16_t(kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += length;
  }
  return out;
}

} // namespace quillo::jobsched
