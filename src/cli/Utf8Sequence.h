// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <string_view>

namespace quillo {

// Length of the well-formed UTF-8 sequence at text[at] (1 to 4), 0 when
// there is none: a stray or overlong byte, a surrogate, or a code point
// above U+10FFFF.
size_t Utf8SequenceLength(std::string_view text, size_t at);

// True when the sequence of `length` bytes at text[at] encodes a C1 control
// character, U+0080 to U+009F: terminals act on them as they do on ESC.
bool IsC1Control(std::string_view text, size_t at, size_t length);

} // namespace quillo
