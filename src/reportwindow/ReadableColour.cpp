// SPDX-License-Identifier: GPL-2.0-or-later
#include "reportwindow/ReadableColour.h"

#include <algorithm>
#include <cmath>

namespace quillo {

namespace {

// The sRGB transfer function, undone.
double Linear(double channel) {
  constexpr double kLinearLimit = 0.04045;
  constexpr double kLinearSlope = 12.92;
  constexpr double kOffset = 0.055;
  constexpr double kGamma = 2.4;
  return channel <= kLinearLimit ? channel / kLinearSlope
                                 : std::pow((channel + kOffset) / (1.0 + kOffset), kGamma);
}

// Steps from the design colour to white or black.
constexpr int kBlendSteps = 100;

} // namespace

double RelativeLuminance(const QColor& colour) {
  constexpr double kRed = 0.2126;
  constexpr double kGreen = 0.7152;
  constexpr double kBlue = 0.0722;
  const QColor rgb = colour.toRgb();
  return kRed * Linear(rgb.redF()) + kGreen * Linear(rgb.greenF()) + kBlue * Linear(rgb.blueF());
}

double ContrastRatio(const QColor& first, const QColor& second) {
  constexpr double kFlare = 0.05;
  const double a = RelativeLuminance(first) + kFlare;
  const double b = RelativeLuminance(second) + kFlare;
  return std::max(a, b) / std::min(a, b);
}

QColor ReadableOn(const QColor& design, const QColor& background) {
  if (ContrastRatio(design, background) >= kReadableContrast) return design;
  constexpr double kMiddleGrey = 0.5;
  const QColor target = RelativeLuminance(background) < kMiddleGrey ? QColor(Qt::white) : QColor(Qt::black);
  const QColor from = design.toRgb();
  for (int step = 0; step <= kBlendSteps; ++step) {
    const double t = double(step) / kBlendSteps;
    const QColor mixed = QColor::fromRgbF(float(from.redF() + (target.redF() - from.redF()) * t),
                                          float(from.greenF() + (target.greenF() - from.greenF()) * t),
                                          float(from.blueF() + (target.blueF() - from.blueF()) * t));
    if (ContrastRatio(mixed, background) >= kReadableContrast) return mixed;
  }
  return target;
}

} // namespace quillo
