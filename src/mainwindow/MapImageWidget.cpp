// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/MapImageWidget.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>

#include "map/DefragMap.h"

namespace quillo {

namespace {
constexpr int kBytesPerPixel = 4;
// How often the changes a job noted reach the picture: about 30 times a
// second, smooth to the eye and nothing to the job.
constexpr int kApplyIntervalMs = 33;
} // namespace

MapImageWidget::MapImageWidget(TDefragMap& map, QWidget* parent) : QWidget(parent), Map(map) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  ApplyTimer = startTimer(kApplyIntervalMs);
}

void MapImageWidget::timerEvent(QTimerEvent* event) {
  if (event->timerId() != ApplyTimer) {
    QWidget::timerEvent(event);
    return;
  }
  Map.ApplyPendingChanges();
}

void MapImageWidget::RepaintCell(int x, int y) {
  const MapImage& image = Map.GetImage();
  if (Map.Columns() <= 0 || Map.Rows() <= 0) return;
  int cellWidth = image.Width / Map.Columns();
  int cellHeight = image.Height / Map.Rows();
  update(x * cellWidth, y * cellHeight, cellWidth, cellHeight);
}

void MapImageWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const MapImage& image = Map.GetImage();
  if (image.Width <= 0 || image.Height <= 0 ||
      image.Pixels.size() < size_t(image.Width) * size_t(image.Height)) {
    painter.fillRect(event->rect(), Qt::white);
    return;
  }
  // A view of the buffer, not a copy.
  QImage view(reinterpret_cast<const uchar*>(image.Pixels.data()), image.Width, image.Height,
              image.Width * kBytesPerPixel, QImage::Format_RGB32);
  painter.drawImage(event->rect(), view, event->rect());
}

} // namespace quillo
