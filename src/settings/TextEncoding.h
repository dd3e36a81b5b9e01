// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-level text helpers for profile and language files.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// True when the bytes form well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Converts Windows-1252 bytes to UTF-8. The five bytes that code page leaves
// undefined become U+FFFD.
std::string Windows1252ToUtf8(std::string_view text);

// Language files written on Windows are often in the ANSI code page; files
// that are already UTF-8 are returned unchanged.
std::string ToDisplayText(std::string_view text);

// ASCII-only case folding, as the profile functions compare names.
std::string AsciiLower(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace quillo
