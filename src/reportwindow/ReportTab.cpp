// SPDX-License-Identifier: GPL-2.0-or-later
#include "reportwindow/ReportTab.h"

#include <QResizeEvent>

#include "reportwindow/ReportContent.h"

namespace quillo {

TReportTab::TReportTab(ReportSortOrder& sortOrder, QWidget* parent) : QWidget(parent) {
  Content = new TReportContent(sortOrder, this);
  Content->setGeometry(rect());
}

Component TReportTab::Describe() const {
  Component tab;
  tab.ClassName = "TReportTab";
  // Tabs are made at run time and have no name, so no section of their own:
  // their captions stay the volume names.
  tab.Name = objectName().toStdString();
  tab.Owned.push_back(Content->Describe());
  return tab;
}

void TReportTab::ApplyTexts(const Component& tab) {
  if (!tab.Owned.empty()) Content->ApplyTexts(tab.Owned.front());
}

void TReportTab::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Content->setGeometry(QRect(QPoint(0, 0), event->size()));
}

} // namespace quillo
