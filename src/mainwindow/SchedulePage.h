// SPDX-License-Identifier: GPL-2.0-or-later
// The schedule page ("schedule"): the volumes to defragment on schedule and
// the options of the weekly task. Its rows follow the volume list.
#pragma once

#include <QWidget>

#include "mainwindow/FormControls.h"

namespace quillo {

class SchedulePage final : public QWidget {
  Q_OBJECT

public:
  explicit SchedulePage(QWidget* parent);

  QLabel* Label_ScheduleTask;
  QLabel* ScheduleDefragDesc;
  QTreeWidget* ScheduleList;
  QGroupBox* GroupBox_ScheduleOptions;
  QCheckBox* ScheduleCheck;
  QLabel* Label_Schedule_Title;
  QLabel* scheduletimelabel;
  QLabel* Label_Action_Title;
  QComboBox* ComboBox_Action;
  QPushButton* ScheduleConfigBtn;
};

} // namespace quillo
