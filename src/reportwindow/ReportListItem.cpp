// SPDX-License-Identifier: GPL-2.0-or-later
#include "reportwindow/ReportListItem.h"

#include "reportwindow/ReportFigures.h"

namespace quillo {

Qt::Alignment ReportListItem::ColumnAlignment(int column) {
  switch (column) {
  case kName: return Qt::AlignLeft | Qt::AlignVCenter;
  case kResult: return Qt::AlignHCenter | Qt::AlignVCenter;
  default: return Qt::AlignRight | Qt::AlignVCenter;
  }
}

ReportListItem::ReportListItem(const FILE_INFO& entry, const QString& statusText,
                               const QLocale& locale)
    : Name(entry.Name), ExtentCount(entry.ExtentCount), Clusters(entry.Clusters),
      StatusText(statusText) {
  setText(kName, QString::fromStdString(Name));
  setText(kFragment, QString::number(ExtentCount));
  setText(kClusters, QString::number(Clusters));
  setText(kSize, FormatSize(uint64_t(Clusters) * kReportKilobytesPerCluster, locale));
  setText(kResult, StatusText);
  for (int column = 0; column < kColumnCount; ++column)
    setTextAlignment(column, ColumnAlignment(column));
  // Full paths can be longer than the column.
  setToolTip(kName, text(kName));
}

} // namespace quillo
