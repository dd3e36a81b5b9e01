// SPDX-License-Identifier: GPL-2.0-or-later
// UTF-16 and UTF-8 conversions. UTF-8 is this platform's 8-bit code page.
#pragma once

#include <string>

namespace quillo {

// Fails on unpaired surrogates: such a name cannot be represented in the
// 8-bit code page.
bool Utf16ToUtf8(const std::u16string& text, std::string& out);
// Fails on malformed UTF-8.
bool Utf8ToUtf16(const std::string& text, std::u16string& out);

} // namespace quillo
