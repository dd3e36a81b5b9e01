// SPDX-License-Identifier: GPL-2.0-or-later
// The window's stored pictures: SVG files compiled into the program,
// rendered at the pixel size a control shows them at.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace quillo {

// The picture ":/pictures/<name>.svg" at `width` × `height` pixels; a
// transparent picture when there is no such file.
QPixmap Picture(const QString& name, int width, int height);
// The same picture as an icon of one size.
QIcon PictureIcon(const QString& name, int size);

} // namespace quillo
