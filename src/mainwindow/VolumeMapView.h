// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QLabel>
#include <QPointer>
#include <QRect>

#include <string>

#include "map/DefragMap.h"
#include "mainwindow/MapImageWidget.h"

namespace quillo {

// One volume's map on the manual page: its Image and its CaptionLabel, told
// by the map what each hand-over changed. Detaches itself from the map and
// removes both controls when it goes.
class VolumeMapView final : public MapView {
public:
  VolumeMapView(TDefragMap& map, QWidget* page, const QRect& imageGeometry,
                const QRect& captionGeometry);
  ~VolumeMapView() override;
  VolumeMapView(const VolumeMapView&) = delete;
  VolumeMapView& operator=(const VolumeMapView&) = delete;

  void CellPainted(int x, int y) override;
  void ProgressChanged(uint32_t value) override;
  void CaptionChanged(const std::string& text) override;

  // Shows or hides both controls.
  void SetShown(bool shown);

  MapImageWidget* Image() const { return ImageControl.data(); }
  QLabel* CaptionLabel() const { return Caption.data(); }

private:
  TDefragMap& Map;
  QPointer<MapImageWidget> ImageControl;
  QPointer<QLabel> Caption;
};

} // namespace quillo
