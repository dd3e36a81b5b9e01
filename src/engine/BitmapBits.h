// SPDX-License-Identifier: GPL-2.0-or-later
// Runs in a volume bitmap as the volume answers it: bit k is bit (k mod 8)
// of byte (k div 8), set when cluster k is in use.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace quillo {

constexpr uint32_t kBitmapBitsPerByte = 8;
constexpr uint32_t kBitmapBitsPerWord = 64;
constexpr uint32_t kBitmapBytesPerWord = kBitmapBitsPerWord / kBitmapBitsPerByte;
constexpr uint8_t kBitmapFullByte = 0xFF;

inline bool BitSet(const uint8_t* bits, uint64_t k) { return (bits[k >> 3] >> (k & 7)) & 1; }

// A little-endian word holds bits 64w to 64w + 63 in order.
inline uint64_t BitmapWord(const uint8_t* bits, uint64_t word) {
  const uint8_t* at = bits + word * kBitmapBytesPerWord;
  uint64_t value = 0;
  for (uint32_t i = 0; i < kBitmapBytesPerWord; ++i) value |= uint64_t(at[i]) << (kBitmapBitsPerByte * i);
  return value;
}

// The end of the run of bits equal to bit k, not beyond limit. Whole words
// of one value are passed in one step; the bytes must reach a whole word
// past limit's word, or limit must end within them.
inline uint64_t RunEnd(const uint8_t* bits, uint64_t k, uint64_t limit) {
  const uint64_t flip = BitSet(bits, k) ? ~uint64_t(0) : 0;
  uint64_t word = k / kBitmapBitsPerWord;
  // Bits that differ from bit k, from bit k on.
  uint64_t differ = (BitmapWord(bits, word) ^ flip) >> (k % kBitmapBitsPerWord);
  if (differ != 0) return std::min(k + uint64_t(std::countr_zero(differ)), limit);
  for (uint64_t at = (word + 1) * kBitmapBitsPerWord; at < limit; at += kBitmapBitsPerWord) {
    differ = BitmapWord(bits, at / kBitmapBitsPerWord) ^ flip;
    if (differ != 0) return std::min(at + uint64_t(std::countr_zero(differ)), limit);
  }
  return limit;
}

// The start of the run of bits equal to bit k.
inline uint64_t RunBegin(const uint8_t* bits, uint64_t k) {
  const bool value = BitSet(bits, k);
  const uint8_t same = value ? kBitmapFullByte : 0;
  while (k > 0) {
    if (k % kBitmapBitsPerByte == 0 && bits[k / kBitmapBitsPerByte - 1] == same) {
      k -= kBitmapBitsPerByte;
      continue;
    }
    if (BitSet(bits, k - 1) != value) break;
    --k;
  }
  return k;
}

} // namespace quillo
