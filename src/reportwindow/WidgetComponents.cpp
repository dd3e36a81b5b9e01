// SPDX-License-Identifier: GPL-2.0-or-later
#include "reportwindow/WidgetComponents.h"

#include <algorithm>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTreeWidget>

#include "settings/TranslationAction.h"

namespace quillo {

namespace {

std::string Utf8(const QString& text) { return text.toStdString(); }
QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

std::string CaptionOf(const QWidget& widget) {
  if (auto* label = qobject_cast<const QLabel*>(&widget)) return Utf8(label->text());
  if (auto* button = qobject_cast<const QAbstractButton*>(&widget)) return Utf8(button->text());
  if (auto* group = qobject_cast<const QGroupBox*>(&widget)) return Utf8(group->title());
  return Utf8(widget.windowTitle());
}

void SetCaption(QWidget& widget, const std::string& caption) {
  const QString text = FromUtf8(caption);
  if (auto* label = qobject_cast<QLabel*>(&widget)) {
    if (label->text() != text) SetLabelText(*label, text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(&widget)) {
    group->setTitle(text);
  } else {
    widget.setWindowTitle(text);
  }
}

} // namespace

Component DescribeWidget(const QWidget& widget, const std::string& className) {
  Component component;
  component.ClassName = className;
  component.Name = Utf8(widget.objectName());
  switch (ActionForClass(className)) {
  case TranslationAction::Caption:
    component.Caption = CaptionOf(widget);
    break;
  case TranslationAction::Columns:
    if (auto* list = qobject_cast<const QTreeWidget*>(&widget)) {
      const QTreeWidgetItem* header = list->headerItem();
      for (int i = 0; i < list->columnCount(); ++i) component.Columns.push_back(Utf8(header->text(i)));
    }
    break;
  case TranslationAction::Items:
    if (auto* box = qobject_cast<const QComboBox*>(&widget)) {
      for (int i = 0; i < box->count(); ++i) component.Items.push_back(Utf8(box->itemText(i)));
      component.ItemIndex = box->currentIndex();
    }
    break;
  case TranslationAction::OwnSection: // described by the window or frame itself
  case TranslationAction::None:
    break;
  }
  return component;
}

void ApplyWidgetTexts(QWidget& widget, const Component& component) {
  switch (ActionForClass(component.ClassName)) {
  case TranslationAction::Caption:
    if (CaptionOf(widget) != component.Caption) SetCaption(widget, component.Caption);
    break;
  case TranslationAction::Columns:
    if (auto* list = qobject_cast<QTreeWidget*>(&widget)) {
      QTreeWidgetItem* header = list->headerItem();
      const int count = std::min<int>(list->columnCount(), int(component.Columns.size()));
      for (int i = 0; i < count; ++i) header->setText(i, FromUtf8(component.Columns[size_t(i)]));
    }
    break;
  case TranslationAction::Items:
    if (auto* box = qobject_cast<QComboBox*>(&widget)) {
      const int count = std::min<int>(box->count(), int(component.Items.size()));
      for (int i = 0; i < count; ++i) box->setItemText(i, FromUtf8(component.Items[size_t(i)]));
      box->setCurrentIndex(component.ItemIndex);
    }
    break;
  case TranslationAction::OwnSection:
  case TranslationAction::None:
    break;
  }
}

void SetLabelText(QLabel& label, const QString& text) {
  const QRect before = label.geometry();
  label.setText(text);
  label.adjustSize();
  if (label.alignment() & Qt::AlignRight) label.move(before.right() + 1 - label.width(), before.top());
}

} // namespace quillo
