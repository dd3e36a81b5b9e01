// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace quillo::fat {

// Names on FAT compare without regard to case, as Windows compares them.
// Folds to upper case: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
std::u16string FoldCase(const std::u16string& name);

// The characters 0x80-0xFF of code page 437, the OEM code page short names
// are stored in.
char16_t OemToUnicode(uint8_t c);

} // namespace quillo::fat
