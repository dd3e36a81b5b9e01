// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/PixelImage.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace quillo {

PixelImage::PixelImage(int width, int height, PixelColor fill)
    : ImageWidth(width), ImageHeight(height) {
  if (width < 0 || height < 0) throw std::invalid_argument("PixelImage size");
  Pixels.assign(size_t(width) * size_t(height), fill);
}

void PixelImage::Fill(PixelColor color) {
  std::fill(Pixels.begin(), Pixels.end(), color);
}

void PixelImage::SetPixel(int64_t x, int64_t y, PixelColor color) {
  if (x < 0 || y < 0 || x >= ImageWidth || y >= ImageHeight) return;
  Pixels[Index(int(x), int(y))] = color;
}

void PixelImage::DrawLine(int64_t x0, int64_t y0, int64_t x1, int64_t y1, PixelColor color) {
  const int64_t dx = x1 - x0;
  const int64_t dy = y1 - y0;
  const int64_t steps = std::max(std::llabs(dx), std::llabs(dy));
  if (steps == 0) return;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const int64_t majorStart = xMajor ? x0 : y0;
  const int64_t majorStep = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const int64_t minorStart = xMajor ? y0 : x0;
  const int64_t minorDelta = xMajor ? dy : dx;
  const int64_t majorLimit = xMajor ? ImageWidth : ImageHeight;

  // Only the steps whose major coordinate lies inside the picture; the minor
  // coordinate is the exact line position rounded half away from the start,
  // which is the pixel the midpoint rule picks.
  int64_t first = 0;
  int64_t last = steps - 1;
  if (majorStep > 0) {
    first = std::max(first, -majorStart);
    last = std::min(last, majorLimit - 1 - majorStart);
  } else {
    first = std::max(first, majorStart - (majorLimit - 1));
    last = std::min(last, majorStart);
  }
  const int64_t minorMagnitude = std::llabs(minorDelta);
  const int64_t minorSign = minorDelta < 0 ? -1 : 1;
  for (int64_t i = first; i <= last; ++i) {
    const int64_t major = majorStart + i * majorStep;
    // 128-bit product: far-off end points must not overflow.
    const __int128 twice = __int128(2) * i * minorMagnitude + steps;
    const int64_t minor = minorStart + minorSign * int64_t(twice / (__int128(2) * steps));
    if (xMajor) {
      SetPixel(major, minor, color);
    } else {
      SetPixel(minor, major, color);
    }
  }
}

template <typename Combine>
void PixelImage::CombineColumns(const PixelImage& source, int sourceX, int targetX, int count,
                                Combine combine) {
  // Keep both ranges inside their pictures.
  if (sourceX < 0) {
    targetX -= sourceX;
    count += sourceX;
    sourceX = 0;
  }
  if (targetX < 0) {
    sourceX -= targetX;
    count += targetX;
    targetX = 0;
  }
  count = std::min({count, source.ImageWidth - sourceX, ImageWidth - targetX});
  if (count <= 0) return;
  const int rows = std::min(ImageHeight, source.ImageHeight);
  for (int y = 0; y < rows; ++y) {
    const PixelColor* from = &source.Pixels[source.Index(sourceX, y)];
    PixelColor* to = &Pixels[Index(targetX, y)];
    for (int x = 0; x < count; ++x) to[x] = combine(to[x], from[x]);
  }
}

void PixelImage::CopyColumns(const PixelImage& source, int sourceX, int targetX, int count) {
  CombineColumns(source, sourceX, targetX, count, [](PixelColor, PixelColor from) { return from; });
}

void PixelImage::OrColumns(const PixelImage& source, int sourceX, int targetX, int count) {
  CombineColumns(source, sourceX, targetX, count,
                 [](PixelColor to, PixelColor from) { return to | from; });
}

} // namespace quillo
