// SPDX-License-Identifier: GPL-2.0-or-later
// The schedule page ("schedule"): the volumes to defragment on schedule and
// the options of the weekly task. Its rows follow the volume list. The
// handlers drive the task; where the options change, the page asks the
// window to read, save and apply its settings (SettingsEdited).
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

#include "engine/Clock.h"
#include "mainwindow/FormControls.h"
#include "mainwindow/ScheduleTask.h"

namespace quillo {

class SchedulePage final : public QWidget {
  Q_OBJECT

public:
  // ComboBox_Action: the methods of a scheduled run.
  static constexpr int kActionFast = 0;
  static constexpr int kActionOptimize = 1;
  // The "Defrag method" column of ScheduleList.
  static constexpr int kMethodColumn = 3;

  explicit SchedulePage(QWidget* parent);
  ~SchedulePage() override;

  // The weekly task the handlers drive, and whether the stored settings have
  // the schedule on (the list's clicks only count then). Until bound, the
  // handlers leave the task alone.
  void Bind(TaskLibrary& tasks, Clock& clock, std::function<bool()> scheduleStored);
  ScheduleTask* Task() const { return WeeklyTask.get(); }

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

signals:
  // The page's options changed: ReadFromWindow, Save, ApplyToWindow.
  void SettingsEdited();

public slots:
  // A click on "Enable Schedule " (not a change made by the program).
  void ScheduleCheckClick();
  // The time text and "Schedule Config" both open the task's dialog.
  void scheduletimelabelClick();
  void ScheduleConfigBtnClick();
  // A method chosen by the user.
  void ComboBox_ActionChange();
  // Any click in the list, check boxes included, once the list has done
  // its own part.
  void ScheduleListClick();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void EditSchedule();

  std::unique_ptr<ScheduleTask> WeeklyTask;
  std::function<bool()> ScheduleStored;
};

} // namespace quillo
