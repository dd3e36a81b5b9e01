// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/FormControls.h"

#include <QHeaderView>

namespace quillo {

namespace {
constexpr int kListIconSize = 16;
constexpr int kGaugeMaximum = 100;
// Below this a shrunk text is no longer legible.
constexpr int kSmallestPixels = 8;

template <typename Control> Control* Named(Control* control, const char* name, const QRect& geometry) {
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(geometry);
  return control;
}
} // namespace

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  return Named(new QLabel(text, parent), name, geometry);
}

QLabel* MakePicture(QWidget* parent, const char* name, const QPixmap& picture, const QRect& geometry) {
  QLabel* label = Named(new QLabel(parent), name, geometry);
  label->setPixmap(picture);
  label->setAttribute(Qt::WA_TranslucentBackground);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  QPushButton* button = Named(new QPushButton(text, parent), name, geometry);
  // Enter presses the focused button, also outside dialogs.
  button->setAutoDefault(true);
  return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  return Named(new QCheckBox(text, parent), name, geometry);
}

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const QString& title, const QRect& geometry) {
  return Named(new QGroupBox(title, parent), name, geometry);
}

QComboBox* MakeDropDown(QWidget* parent, const char* name, const QStringList& items,
                        const QRect& geometry) {
  QComboBox* box = Named(new QComboBox(parent), name, geometry);
  box->setEditable(false);
  box->addItems(items);
  return box;
}

QSlider* MakeTrackBar(QWidget* parent, const char* name, int minimum, int maximum,
                      const QRect& geometry) {
  QSlider* slider = Named(new QSlider(Qt::Horizontal, parent), name, geometry);
  slider->setRange(minimum, maximum);
  slider->setTickPosition(QSlider::NoTicks);
  slider->setPageStep(1);
  return slider;
}

QTreeWidget* MakeCheckList(QWidget* parent, const char* name, const QList<ListColumn>& columns,
                           const QRect& geometry) {
  QTreeWidget* list = Named(new QTreeWidget(parent), name, geometry);
  list->setColumnCount(int(columns.size()));
  QStringList captions;
  for (const ListColumn& column : columns) captions << column.Caption;
  list->setHeaderLabels(captions);
  for (int i = 0; i < columns.size(); ++i) list->setColumnWidth(i, columns[i].Width);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setIconSize(QSize(kListIconSize, kListIconSize));
  // The selection mirrors the check boxes and must show without focus too.
  QPalette palette = list->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  list->setPalette(palette);
  return list;
}

QProgressBar* MakeGauge(QWidget* parent, const char* name, const QRect& geometry) {
  QProgressBar* gauge = Named(new QProgressBar(parent), name, geometry);
  gauge->setRange(0, kGaugeMaximum);
  gauge->setValue(0);
  gauge->setTextVisible(false);
  return gauge;
}

void FitHeightToFont(QLabel* label) {
  const int needed = label->fontMetrics().height() + 2 * label->margin();
  if (needed <= label->height()) return;
  const int grow = needed - label->height();
  label->setGeometry(label->x(), label->y() - grow / 2, label->width(), needed);
}

void FitFontToWidth(QLabel* label) {
  QFont font = label->font();
  const int room = label->contentsRect().width() - 2 * label->margin();
  while (QFontMetrics(font).horizontalAdvance(label->text()) > room && font.pixelSize() > kSmallestPixels)
    font.setPixelSize(font.pixelSize() - 1);
  label->setFont(font);
}

bool IsActivationKey(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

QLabel* MakeLink(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  QLabel* label = MakeLabel(parent, name, text, geometry);
  QFont font = label->font();
  font.setUnderline(true);
  label->setFont(font);
  label->setCursor(Qt::PointingHandCursor);
  return label;
}

} // namespace quillo
