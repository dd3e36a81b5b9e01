// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/Pictures.h"

#include <QPainter>
#include <QSvgRenderer>

// The pictures are compiled into a static library, whose resource
// registration the linker would drop unless something refers to it.
static void RegisterPictures() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(pictures);
    return true;
  }();
  (void)registered;
}

namespace quillo {

QPixmap Picture(const QString& name, int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  RegisterPictures();
  QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
  if (!renderer.isValid()) return pixmap;
  QPainter painter(&pixmap);
  renderer.render(&painter);
  return pixmap;
}

QIcon PictureIcon(const QString& name, int size) { return QIcon(Picture(name, size, size)); }

} // namespace quillo
