// SPDX-License-Identifier: GPL-2.0-or-later
#include "power/FadeToGrey.h"

namespace quillo {

namespace {

constexpr int kRedWeight = 77;
constexpr int kGreenWeight = 151;
constexpr int kBlueWeight = 28;
constexpr int kWeightScale = 256;
constexpr int kByteBits = 8;
constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kOpaque = 0xFF000000u;

int Channel(uint32_t pixel, int index) { return int((pixel >> (index * kByteBits)) & kByteMask); }

int Toward(int colour, int grey, int step) { return colour + (step * (grey - colour)) / kFadeSteps; }

bool HoldsArgbValues(QImage::Format format) {
  return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
         format == QImage::Format_ARGB32_Premultiplied;
}

} // namespace

uint32_t FadePixel(uint32_t pixel, int step) {
  constexpr int kBlue = 0;
  constexpr int kGreen = 1;
  constexpr int kRed = 2;
  int blue = Channel(pixel, kBlue);
  int green = Channel(pixel, kGreen);
  int red = Channel(pixel, kRed);
  int grey = (kRedWeight * red + kGreenWeight * green + kBlueWeight * blue) / kWeightScale;
  return uint32_t(Toward(red, grey, step)) << (kRed * kByteBits) |
         uint32_t(Toward(green, grey, step)) << (kGreen * kByteBits) |
         uint32_t(Toward(blue, grey, step)) << (kBlue * kByteBits);
}

void FadeToGrey(uint32_t* pixels, size_t count, int step) {
  for (size_t i = 0; i < count; ++i) pixels[i] = FadePixel(pixels[i], step);
}

void FadeToGrey(QImage& picture, int step) {
  if (picture.isNull() || picture.depth() != 32 || !HoldsArgbValues(picture.format())) return;
  for (int y = 0; y < picture.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(picture.scanLine(y));
    for (int x = 0; x < picture.width(); ++x) row[x] = FadePixel(row[x], step) | kOpaque;
  }
}

} // namespace quillo
