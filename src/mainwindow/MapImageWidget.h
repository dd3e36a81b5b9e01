// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QWidget>

namespace quillo {

class TDefragMap;

// The map's Image: shows the map's pixel buffer. The buffer is written only
// on the window thread (the map's painting step, or the changes a job noted,
// applied here at a bounded rate), so painting reads it without a lock.
class MapImageWidget final : public QWidget {
  Q_OBJECT

public:
  MapImageWidget(TDefragMap& map, QWidget* parent);

  // Repaints the cell at column x, row y.
  void RepaintCell(int x, int y);

protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

private:
  TDefragMap& Map;
  int ApplyTimer = 0;
};

} // namespace quillo
