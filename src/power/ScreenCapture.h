// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QImage>

namespace quillo {

// The whole primary screen as it looks now. Where the platform gives no
// picture (Wayland, offscreen), a plain picture of the screen's size, so
// that the countdown goes on over it.
QImage CaptureScreen();

} // namespace quillo
