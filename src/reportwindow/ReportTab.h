// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QWidget>

#include "reportwindow/ReportSortOrder.h"
#include "settings/Component.h"

namespace quillo {

class TReportContent;

// TReportTab: one volume's tab of the report window. Its page is a
// TReportContent frame that fills the tab and goes with it.
class TReportTab : public QWidget {
  Q_OBJECT

public:
  TReportTab(ReportSortOrder& sortOrder, QWidget* parent = nullptr);

  // The tab for the language facility: it owns its frame, which is
  // translated in its own section.
  Component Describe() const;
  void ApplyTexts(const Component& tab);

  TReportContent* Content = nullptr;

protected:
  void resizeEvent(QResizeEvent* event) override;
};

} // namespace quillo
