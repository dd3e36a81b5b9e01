// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include <QLocale>
#include <QString>
#include <QTreeWidgetItem>

#include "engine/DefragDefine.h"

namespace quillo {

// One row of a report list. The row keeps its own copy of the sort keys, so
// that it stays valid when the job clears or refills its report while the
// window is open.
class ReportListItem : public QTreeWidgetItem {
public:
  enum Column { kName = 0, kFragment = 1, kClusters = 2, kSize = 3, kResult = 4 };
  static constexpr int kColumnCount = 5;

  // Names left, numbers right, the result centred.
  static Qt::Alignment ColumnAlignment(int column);

  ReportListItem(const FILE_INFO& entry, const QString& statusText,
                 const QLocale& locale = QLocale());

  const std::string Name;
  const uint32_t ExtentCount;
  const uint32_t Clusters;
  const QString StatusText;
};

} // namespace quillo
