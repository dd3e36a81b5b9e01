// SPDX-License-Identifier: GPL-2.0-or-later
// Colours of emphasised text that stay readable on the palette in use: the
// contrast measure of the Web Content Accessibility Guidelines (2.x), and a
// design colour moved just far enough towards white (on dark backgrounds) or
// black (on light ones) to reach level AA.
#pragma once

#include <QColor>

namespace quillo {

// Level AA for normal text.
inline constexpr double kReadableContrast = 4.5;

// 0 for black to 1 for white.
double RelativeLuminance(const QColor& colour);
// From 1 (no contrast) to 21 (black on white), in either order.
double ContrastRatio(const QColor& first, const QColor& second);
// `design` itself when it reaches kReadableContrast on `background`, else
// the least change of it that does.
QColor ReadableOn(const QColor& design, const QColor& background);

} // namespace quillo
