// SPDX-License-Identifier: GPL-2.0-or-later
#include "power/ScreenCapture.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace quillo {

namespace {
// A desktop-blue backdrop for platforms that give no picture.
const QColor kNeutralDesktop(58, 110, 165);
constexpr int kFallbackWidth = 1024;
constexpr int kFallbackHeight = 768;
} // namespace

QImage CaptureScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  QSize size = screen ? screen->geometry().size() : QSize(kFallbackWidth, kFallbackHeight);
  if (screen) {
    QImage picture = screen->grabWindow(0).toImage();
    if (!picture.isNull()) return picture;
  }
  QImage neutral(size, QImage::Format_RGB32);
  neutral.fill(kNeutralDesktop);
  return neutral;
}

} // namespace quillo
