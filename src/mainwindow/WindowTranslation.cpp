// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/WindowTranslation.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "reportwindow/ReportContent.h"
#include "reportwindow/ReportTab.h"
#include "settings/TranslationAction.h"

namespace quillo {

namespace {

// Qt class (exact name) -> the kind of control it stands for.
constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kDesignClasses = {{
    {"QLabel", "TLabel"},
    {"QPushButton", "TButton"},
    {"QGroupBox", "TGroupBox"},
    {"QCheckBox", "TCheckBox"},
    {"QRadioButton", "TRzRadioButton"},
    {"QToolButton", "TToolButton"},
    {"QAction", "TMenuItem"},
    {"QTreeWidget", "TListView"},
    {"QComboBox", "TComboBox"},
    {"quillo::TReportTab", "TReportTab"},
    {"quillo::TReportContent", "TReportContent"},
}};

constexpr std::string_view kReportTab = "TReportTab";
constexpr std::string_view kReportContent = "TReportContent";
// The class a window root is described as when it is none of the above.
constexpr std::string_view kWindowClass = "TForm";

std::string Utf8(const QString& text) { return text.toStdString(); }
QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

std::string CaptionOf(const QObject& object) {
  if (auto* label = qobject_cast<const QLabel*>(&object)) return Utf8(label->text());
  if (auto* button = qobject_cast<const QAbstractButton*>(&object)) return Utf8(button->text());
  if (auto* group = qobject_cast<const QGroupBox*>(&object)) return Utf8(group->title());
  if (auto* action = qobject_cast<const QAction*>(&object)) return Utf8(action->text());
  return {};
}

// A label that sizes itself to its text, as designed labels do: it grows
// to a longer text, never shrinks, and keeps the edge or centre it is
// aligned to. Word-wrapped labels keep their box.
void SetLabelCaption(QLabel& label, const QString& text) {
  label.setText(text);
  if (label.wordWrap()) return;
  const int wanted = label.sizeHint().width();
  const QRect before = label.geometry();
  if (wanted <= before.width()) return;
  QRect after = before;
  after.setWidth(wanted);
  if (label.alignment() & Qt::AlignRight) {
    after.moveRight(before.right());
  } else if (label.alignment() & Qt::AlignHCenter) {
    after.moveLeft(before.center().x() - wanted / 2);
  }
  label.setGeometry(after);
}

void SetCaption(QObject& object, const std::string& caption) {
  const QString text = FromUtf8(caption);
  if (auto* label = qobject_cast<QLabel*>(&object)) {
    SetLabelCaption(*label, text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(&object)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(&object)) {
    group->setTitle(text);
  } else if (auto* action = qobject_cast<QAction*>(&object)) {
    action->setText(text);
  }
}

} // namespace

std::string WindowTranslation::DesignClass(const QObject& object) {
  const std::string_view qtClass = object.metaObject()->className();
  for (const auto& [qt, design] : kDesignClasses) {
    if (qt != qtClass) continue;
    // A label that shows a picture is the design's image, not a text.
    if (auto* label = qobject_cast<const QLabel*>(&object); label && !label->pixmap().isNull())
      return {};
    return std::string(design);
  }
  return {};
}

void WindowTranslation::Translate(TLanguage& language, QWidget& root,
                                  const std::vector<QObject*>& alsoOwned) {
  Node tree;
  Component window = DescribeRoot(root, alsoOwned, tree);
  language.Translate(window);
  ApplyTexts(window, tree);
}

Component WindowTranslation::DescribeRoot(QWidget& root, const std::vector<QObject*>& alsoOwned,
                                          Node& node) {
  Component window;
  window.ClassName = DesignClass(root);
  if (window.ClassName.empty()) window.ClassName = kWindowClass;
  window.Name = Utf8(root.objectName());
  window.Caption = Utf8(root.windowTitle());
  node.Object = &root;
  CollectOwned(root, window, node);
  for (QObject* object : alsoOwned) {
    if (object != nullptr) AddOwned(*object, window, node);
  }
  return window;
}

void WindowTranslation::CollectOwned(QObject& parent, Component& component, Node& node) {
  // children() keeps the order in which the children were added. Windows
  // parented here (dialogs, message boxes) are translated by themselves.
  for (QObject* child : parent.children()) {
    if (child->isWidgetType() && static_cast<QWidget*>(child)->isWindow()) continue;
    AddOwned(*child, component, node);
  }
}

void WindowTranslation::AddOwned(QObject& object, Component& component, Node& node) {
  const std::string designClass = DesignClass(object);
  if (designClass == kReportTab || designClass == kReportContent) {
    // A tab or frame owns its own components and describes them itself.
    Component own = designClass == kReportTab ? static_cast<TReportTab&>(object).Describe()
                                              : static_cast<TReportContent&>(object).Describe();
    component.Owned.push_back(std::move(own));
    node.Owned.push_back({&object, {}});
    return;
  }
  const TranslationAction action = ActionForClass(designClass);
  if (action != TranslationAction::None && !object.objectName().isEmpty()) {
    component.Owned.push_back(DescribeObject(object, designClass));
    node.Owned.push_back({&object, {}});
  }
  // Lists and combo boxes hold only their own inner parts.
  if (action == TranslationAction::Columns || action == TranslationAction::Items) return;
  CollectOwned(object, component, node);
}

Component WindowTranslation::DescribeObject(QObject& object, const std::string& designClass) {
  Component component;
  component.ClassName = designClass;
  component.Name = Utf8(object.objectName());
  switch (ActionForClass(designClass)) {
  case TranslationAction::Caption:
    component.Caption = CaptionOf(object);
    break;
  case TranslationAction::Columns:
    if (auto* list = qobject_cast<QTreeWidget*>(&object)) {
      const QTreeWidgetItem* header = list->headerItem();
      for (int i = 0; i < list->columnCount(); ++i) component.Columns.push_back(Utf8(header->text(i)));
    }
    break;
  case TranslationAction::Items:
    if (auto* box = qobject_cast<QComboBox*>(&object)) {
      for (int i = 0; i < box->count(); ++i) component.Items.push_back(Utf8(box->itemText(i)));
      component.ItemIndex = box->currentIndex();
    }
    break;
  case TranslationAction::OwnSection:
  case TranslationAction::None:
    break;
  }
  return component;
}

void WindowTranslation::ApplyTexts(const Component& window, const Node& node) {
  if (auto* root = qobject_cast<QWidget*>(node.Object)) {
    const QString caption = FromUtf8(window.Caption);
    if (root->windowTitle() != caption) root->setWindowTitle(caption);
  }
  for (size_t i = 0; i < node.Owned.size(); ++i)
    ApplyObjectTexts(*node.Owned[i].Object, window.Owned[i]);
}

void WindowTranslation::ApplyObjectTexts(QObject& object, const Component& component) {
  switch (ActionForClass(component.ClassName)) {
  case TranslationAction::OwnSection:
    if (component.ClassName == kReportTab)
      static_cast<TReportTab&>(object).ApplyTexts(component);
    else
      static_cast<TReportContent&>(object).ApplyTexts(component);
    break;
  case TranslationAction::Caption:
    // Controls are written only when their text changes.
    if (CaptionOf(object) != component.Caption) SetCaption(object, component.Caption);
    break;
  case TranslationAction::Columns:
    if (auto* list = qobject_cast<QTreeWidget*>(&object)) {
      QTreeWidgetItem* header = list->headerItem();
      const int count = std::min<int>(list->columnCount(), int(component.Columns.size()));
      for (int i = 0; i < count; ++i) header->setText(i, FromUtf8(component.Columns[size_t(i)]));
    }
    break;
  case TranslationAction::Items:
    if (auto* box = qobject_cast<QComboBox*>(&object)) {
      // Putting the selection back is no change of the user's.
      const QSignalBlocker quiet(box);
      const int count = std::min<int>(box->count(), int(component.Items.size()));
      for (int i = 0; i < count; ++i) box->setItemText(i, FromUtf8(component.Items[size_t(i)]));
      box->setCurrentIndex(component.ItemIndex);
    }
    break;
  case TranslationAction::None:
    break;
  }
}

} // namespace quillo
