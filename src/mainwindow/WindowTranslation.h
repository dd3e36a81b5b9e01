// SPDX-License-Identifier: GPL-2.0-or-later
// Translation of a Qt window or frame by the language files. The window is
// described to TLanguage::Translate as a tree of components, the texts are
// translated there and written back into the widgets. Which components take
// part is decided by the exact Qt class of each object (its metaObject's
// class name), so a subclass of a listed control is left alone.
#pragma once

#include <string>
#include <vector>

#include "settings/Component.h"
#include "settings/Language.h"

class QObject;
class QWidget;

namespace quillo {

class WindowTranslation {
public:
  // The kind of control a Qt object stands for in the language tables
  // ("TLabel", "TButton", "TMenuItem", "TListView", "TComboBox",
  // "TReportTab", ...); empty for an object that is never translated
  // (panels, pages, pictures, trackbars, timers, the tray icon, subclasses).
  static std::string DesignClass(const QObject& object);

  // Translates `root` (its window title, in the section of its object name)
  // and every object it owns: its descendants and then `alsoOwned` with
  // theirs, each in creation order. A report tab or frame met on the way is
  // translated in its own section, with what it owns.
  static void Translate(TLanguage& language, QWidget& root,
                        const std::vector<QObject*>& alsoOwned = {});

private:
  struct Node {
    QObject* Object = nullptr;
    std::vector<Node> Owned; // parallel to the component's Owned
  };

  static Component DescribeRoot(QWidget& root, const std::vector<QObject*>& alsoOwned, Node& node);
  static void CollectOwned(QObject& parent, Component& component, Node& node);
  static void AddOwned(QObject& object, Component& component, Node& node);
  static Component DescribeObject(QObject& object, const std::string& designClass);
  static void ApplyTexts(const Component& component, const Node& node);
  static void ApplyObjectTexts(QObject& object, const Component& component);
};

} // namespace quillo
