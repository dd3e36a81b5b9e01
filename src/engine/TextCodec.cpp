// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/TextCodec.h"

#include <cstdint>

namespace quillo {

namespace {
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateEnd = 0xE000;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}
} // namespace

bool Utf16ToUtf8(const std::u16string& text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= kHighSurrogateFirst && c < kLowSurrogateFirst) {
      if (i + 1 >= text.size()) return false;
      char32_t low = text[i + 1];
      if (low < kLowSurrogateFirst || low >= kSurrogateEnd) return false;
      c = 0x10000 + ((c - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
      ++i;
    } else if (c >= kLowSurrogateFirst && c < kSurrogateEnd) {
      return false;
    }
    AppendUtf8(c, out);
  }
  return true;
}

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
  out.clear();
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint8_t lead = uint8_t(text[i]);
    char32_t c;
    size_t extra;
    if (lead < 0x80) {
      c = lead;
      extra = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      c = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      c = lead & 0x0F;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      c = lead & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      uint8_t next = uint8_t(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[extra] || c > kMaxCodePoint || (c >= kHighSurrogateFirst && c < kSurrogateEnd))
      return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(char16_t(kHighSurrogateFirst + (c >> 10)));
      out.push_back(char16_t(kLowSurrogateFirst + (c & 0x3FF)));
    } else {
      out.push_back(char16_t(c));
    }
    i += extra + 1;
  }
  return true;
}

} // namespace quillo
