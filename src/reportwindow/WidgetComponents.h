// SPDX-License-Identifier: GPL-2.0-or-later
// The bridge between Qt widgets and the toolkit-independent description that
// the language facility translates (settings/Component.h).
#pragma once

#include <string>

#include "settings/Component.h"

class QLabel;
class QString;
class QWidget;

namespace quillo {

// Describes `widget` as a component of kind `className` ("TLabel",
// "TButton", "TListView", "TComboBox", ...): its objectName() and, by the
// kind, its text, column titles or items. Windows and frames that are
// translated by themselves describe their own captions and components.
Component DescribeWidget(const QWidget& widget, const std::string& className);

// Writes the texts of `component` back into the widget it describes. A label
// keeps its right edge when it is right-aligned and its left edge otherwise,
// as a label sized to its text does.
void ApplyWidgetTexts(QWidget& widget, const Component& component);

// Sets a label's text and sizes the label to it, keeping the edge it is
// aligned to.
void SetLabelText(QLabel& label, const QString& text);

} // namespace quillo
