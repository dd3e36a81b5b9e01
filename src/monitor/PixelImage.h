// SPDX-License-Identifier: GPL-2.0-or-later
// A 32-bit pixel picture for the activity graphs, with the few drawing
// operations they need. No toolkit type appears here; the window copies the
// pixels into its own image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillo {

// 0xAARRGGBB, the layout of QImage::Format_RGB32.
using PixelColor = uint32_t;
constexpr PixelColor PixelRgb(uint8_t r, uint8_t g, uint8_t b) {
  return 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

class PixelImage {
public:
  PixelImage(int width, int height, PixelColor fill);

  int Width() const { return ImageWidth; }
  int Height() const { return ImageHeight; }
  PixelColor Pixel(int x, int y) const { return Pixels[Index(x, y)]; }
  // Row-major, Width() pixels per row.
  const std::vector<PixelColor>& Data() const { return Pixels; }

  void Fill(PixelColor color);
  // Pixels outside the picture are left out.
  void SetPixel(int64_t x, int64_t y, PixelColor color);
  // A one-pixel line without antialiasing from (x0, y0) up to, but not
  // including, (x1, y1): the end point belongs to the segment that follows.
  // Only the part inside the picture is drawn.
  void DrawLine(int64_t x0, int64_t y0, int64_t x1, int64_t y1, PixelColor color);
  // Columns sourceX … sourceX + count − 1 of source onto columns targetX …
  // of this picture, over the rows both pictures have: a plain copy, or a
  // bitwise OR of the pixel values.
  void CopyColumns(const PixelImage& source, int sourceX, int targetX, int count);
  void OrColumns(const PixelImage& source, int sourceX, int targetX, int count);

private:
  size_t Index(int x, int y) const { return size_t(y) * size_t(ImageWidth) + size_t(x); }
  template <typename Combine>
  void CombineColumns(const PixelImage& source, int sourceX, int targetX, int count, Combine combine);

  int ImageWidth;
  int ImageHeight;
  std::vector<PixelColor> Pixels;
};

} // namespace quillo
