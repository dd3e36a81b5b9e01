// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/VolumeMapView.h"

namespace quillo {

namespace {
constexpr int kCaptionPoints = 10;
} // namespace

VolumeMapView::VolumeMapView(TDefragMap& map, QWidget* page, const QRect& imageGeometry,
                             const QRect& captionGeometry)
    : Map(map) {
  ImageControl = new MapImageWidget(map, page);
  ImageControl->setObjectName(QStringLiteral("Image"));
  ImageControl->setGeometry(imageGeometry);
  ImageControl->hide();

  Caption = new QLabel(page);
  Caption->setObjectName(QStringLiteral("CaptionLabel"));
  Caption->setGeometry(captionGeometry);
  Caption->setAttribute(Qt::WA_TranslucentBackground);
  Caption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(kCaptionPoints);
  Caption->setFont(font);
  Caption->setText(QString::fromStdString(map.GetLabel()));
  Caption->hide();

  map.SetView(this);
}

VolumeMapView::~VolumeMapView() {
  Map.SetView(nullptr);
  delete ImageControl.data();
  delete Caption.data();
}

void VolumeMapView::CellPainted(int x, int y) {
  if (ImageControl) ImageControl->RepaintCell(x, y);
}

// The gauge follows the progress at each tick of the status timer.
void VolumeMapView::ProgressChanged(uint32_t /*value*/) {}

void VolumeMapView::CaptionChanged(const std::string& text) {
  if (Caption) Caption->setText(QString::fromStdString(text));
}

void VolumeMapView::SetShown(bool shown) {
  if (ImageControl) ImageControl->setVisible(shown);
  if (Caption) Caption->setVisible(shown);
}

} // namespace quillo
