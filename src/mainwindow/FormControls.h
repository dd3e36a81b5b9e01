// SPDX-License-Identifier: GPL-2.0-or-later
// Creation of the windows' controls: each gets its design name as its object
// name, its design text and a fixed pixel geometry.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QSlider>
#include <QStringList>
#include <QTreeWidget>

namespace quillo {

struct ListColumn {
  QString Caption;
  int Width = 0;
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry);
// A label showing a picture at the label's size.
QLabel* MakePicture(QWidget* parent, const char* name, const QPixmap& picture, const QRect& geometry);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry);
QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, const QRect& geometry);
QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const QString& title, const QRect& geometry);
// A drop-down list that takes only its items.
QComboBox* MakeDropDown(QWidget* parent, const char* name, const QStringList& items,
                        const QRect& geometry);
// A horizontal trackbar without ticks.
QSlider* MakeTrackBar(QWidget* parent, const char* name, int minimum, int maximum,
                      const QRect& geometry);
// A report-style list with check boxes, whole-row selection, read-only
// captions and 16-pixel icons, its selection visible without focus.
QTreeWidget* MakeCheckList(QWidget* parent, const char* name, const QList<ListColumn>& columns,
                           const QRect& geometry);
// A gauge 0..100 without text.
QProgressBar* MakeGauge(QWidget* parent, const char* name, const QRect& geometry);
// Grows a label to the line height of its font where the design's box is
// lower, keeping the box's vertical centre: the desktop's fonts are often
// taller than the design's.
void FitHeightToFont(QLabel* label);
// Makes the font of a fixed text smaller until the text fits the label's
// width.
void FitFontToWidth(QLabel* label);
// Return, Enter and Space activate a focused tile or link, as they press a
// focused button.
bool IsActivationKey(int key);
// A link label: underlined, hand cursor.
QLabel* MakeLink(QWidget* parent, const char* name, const QString& text, const QRect& geometry);

} // namespace quillo
