// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/Utf8Sequence.h"

#include <cstdint>

namespace quillo {

namespace {
constexpr unsigned char kC1LeadByte = 0xC2;
constexpr unsigned char kAfterLastC1Trail = 0xA0;
constexpr uint32_t kLastCodePoint = 0x10FFFF;
constexpr uint32_t kFirstSurrogate = 0xD800;
constexpr uint32_t kLastSurrogate = 0xDFFF;
} // namespace

size_t Utf8SequenceLength(std::string_view text, size_t at) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(at);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + k) & 0x3F);
  }
  if (code < minimum || code > kLastCodePoint ||
      (code >= kFirstSurrogate && code <= kLastSurrogate))
    return 0;
  return length;
}

bool IsC1Control(std::string_view text, size_t at, size_t length) {
  return length == 2 && static_cast<unsigned char>(text[at]) == kC1LeadByte &&
         static_cast<unsigned char>(text[at + 1]) < kAfterLastC1Trail;
}

} // namespace quillo
