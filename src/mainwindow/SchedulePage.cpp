// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/SchedulePage.h"

#include <QMouseEvent>

namespace quillo {

SchedulePage::SchedulePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("schedule"));

  Label_ScheduleTask = MakeLabel(this, "Label_ScheduleTask", "Schedule Task", QRect(40, 12, 300, 20));
  QFont heading = Label_ScheduleTask->font();
  heading.setBold(true);
  heading.setPixelSize(14);
  Label_ScheduleTask->setFont(heading);
  ScheduleDefragDesc = MakeLabel(this, "ScheduleDefragDesc",
                                 "Select the volume you want to defrag with schedule,and choose the "
                                 "defrag method,and set the options you wanted",
                                 QRect(40, 36, 537, 34));
  ScheduleDefragDesc->setWordWrap(true);

  ScheduleList = MakeCheckList(
      this, "ScheduleList",
      {{"Volumes", 100}, {"FileSystem", 80}, {"Size", 80}, {"Defrag method", 190}},
      QRect(40, 75, 537, 133));
  ScheduleList->setSelectionMode(QAbstractItemView::SingleSelection);

  GroupBox_ScheduleOptions =
      MakeGroupBox(this, "GroupBox_ScheduleOptions", "Options", QRect(40, 222, 537, 140));
  ScheduleCheck = MakeCheckBox(GroupBox_ScheduleOptions, "ScheduleCheck", "Enable Schedule ",
                               QRect(15, 26, 300, 20));
  Label_Schedule_Title =
      MakeLabel(GroupBox_ScheduleOptions, "Label_Schedule_Title", "Schedule:", QRect(15, 62, 70, 18));
  scheduletimelabel =
      MakeLabel(GroupBox_ScheduleOptions, "scheduletimelabel", "", QRect(90, 62, 430, 18));
  QFont link = scheduletimelabel->font();
  link.setBold(true);
  scheduletimelabel->setFont(link);
  scheduletimelabel->setStyleSheet(QStringLiteral("color: navy;"));
  scheduletimelabel->setCursor(Qt::PointingHandCursor);
  scheduletimelabel->setEnabled(false);
  Label_Action_Title =
      MakeLabel(GroupBox_ScheduleOptions, "Label_Action_Title", "Action:", QRect(15, 98, 70, 18));
  ComboBox_Action = MakeDropDown(GroupBox_ScheduleOptions, "ComboBox_Action",
                                 {"Defrag", "Defrag & Optimize"}, QRect(90, 95, 170, 24));
  ComboBox_Action->setEnabled(false);
  ScheduleConfigBtn = MakeButton(GroupBox_ScheduleOptions, "ScheduleConfigBtn", "Schedule Config",
                                 QRect(400, 94, 120, 25));
  ScheduleConfigBtn->setEnabled(false);

  scheduletimelabel->installEventFilter(this);
  ScheduleList->viewport()->installEventFilter(this);
  connect(ScheduleCheck, &QCheckBox::clicked, this, &SchedulePage::ScheduleCheckClick);
  connect(ScheduleConfigBtn, &QPushButton::clicked, this, &SchedulePage::ScheduleConfigBtnClick);
  // Only the user's choice counts: the apply step sets the index itself.
  connect(ComboBox_Action, &QComboBox::activated, this, &SchedulePage::ComboBox_ActionChange);
}

SchedulePage::~SchedulePage() = default;

void SchedulePage::Bind(TaskLibrary& tasks, Clock& clock, std::function<bool()> scheduleStored) {
  WeeklyTask = std::make_unique<ScheduleTask>(tasks, clock, RunningProgramFile());
  ScheduleStored = std::move(scheduleStored);
}

void SchedulePage::ScheduleCheckClick() {
  if (ScheduleCheck->isChecked()) {
    if (WeeklyTask) {
      WeeklyTask->CreateIfMissing();
      scheduletimelabel->setText(QString::fromStdU16String(WeeklyTask->TimeText()));
    }
    scheduletimelabel->setEnabled(true);
    ScheduleConfigBtn->setEnabled(true);
  } else {
    scheduletimelabel->setEnabled(false);
    ScheduleConfigBtn->setEnabled(false);
  }
  // The apply step creates or deletes the task to match the box.
  emit SettingsEdited();
}

void SchedulePage::scheduletimelabelClick() { EditSchedule(); }

void SchedulePage::ScheduleConfigBtnClick() { EditSchedule(); }

void SchedulePage::EditSchedule() {
  if (WeeklyTask) scheduletimelabel->setText(QString::fromStdU16String(WeeklyTask->Edit()));
  emit SettingsEdited();
}

void SchedulePage::ComboBox_ActionChange() { emit SettingsEdited(); }

void SchedulePage::ScheduleListClick() {
  // With the schedule off the ticks wait for the next Apply or OK.
  if (ScheduleStored && ScheduleStored()) emit SettingsEdited();
}

bool SchedulePage::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == scheduletimelabel && scheduletimelabel->isEnabled() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      // Queued: the dialog must not open inside the label's own event.
      QMetaObject::invokeMethod(this, &SchedulePage::scheduletimelabelClick, Qt::QueuedConnection);
    } else if (watched == ScheduleList->viewport()) {
      // The list's own click handling (check box, selection) comes first.
      QMetaObject::invokeMethod(this, &SchedulePage::ScheduleListClick, Qt::QueuedConnection);
    }
  }
  return QWidget::eventFilter(watched, event);
}

} // namespace quillo
