// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QWidget>

namespace quillo {

class TDefragMap;

// The map's Image: shows the map's pixel buffer. The buffer is written only
// by the map's painting step, which runs on the window thread, so painting
// reads it without a lock.
class MapImageWidget final : public QWidget {
  Q_OBJECT

public:
  MapImageWidget(const TDefragMap& map, QWidget* parent);

  // Repaints the cell at column x, row y.
  void RepaintCell(int x, int y);

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  const TDefragMap& Map;
};

} // namespace quillo
