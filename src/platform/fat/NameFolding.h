// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace quillo::fat {

// Names on FAT compare without regard to case, as Windows compares them.
// Folds to upper case: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char16_t FoldChar(char16_t c);
std::u16string FoldCase(const std::u16string& name);
// Whether two names are equal without regard to case.
bool EqualFolded(const std::u16string& a, const std::u16string& b);
// A hash of the folded name (FNV-1a), equal for names equal without regard
// to case.
uint64_t FoldedHash(const std::u16string& name);

// The characters 0x80-0xFF of code page 437, the OEM code page short names
// are stored in.
char16_t OemToUnicode(uint8_t c);

} // namespace quillo::fat
