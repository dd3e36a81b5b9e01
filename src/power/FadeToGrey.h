// SPDX-License-Identifier: GPL-2.0-or-later
// The fade of the frozen desktop picture towards grey, one step per second.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace quillo {

// Steps of the fade; at the last one every pixel is its grey level.
inline constexpr int kFadeSteps = 10;

// One 32-bit pixel as a bitmap stores it: blue in the low byte, then green,
// red and a fourth byte. Each colour moves `step` tenths of the way to the
// pixel's grey level, (77 red + 151 green + 28 blue) / 256, the division by
// ten truncating toward zero; the fourth byte becomes 0.
uint32_t FadePixel(uint32_t pixel, int step);

// FadePixel over `count` pixels.
void FadeToGrey(uint32_t* pixels, size_t count, int step);

// The same fade on a picture whose pixels are 32-bit 0xAARRGGBB values; the
// fourth byte is the picture's opacity, which stays opaque. Pictures of
// other formats (16 or 24 bits per pixel, other byte orders) keep their
// colours.
void FadeToGrey(QImage& picture, int step);

} // namespace quillo
