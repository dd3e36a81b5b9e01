// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/FormSettings.h"

#include <QSignalBlocker>

#include "mainwindow/MainForm.h"
#include "mainwindow/ScheduleTask.h"
#include "mainwindow/TaskLibrary.h"
#include "settings/ExcludeSizeSteps.h"
#include "settings/TextEncoding.h"

namespace quillo {

namespace {

bool Ticked(const QTreeWidgetItem* item) { return item->checkState(0) == Qt::Checked; }

} // namespace

FormSettings::FormSettings(TMainForm& form) : Form(form), Settings(*form.Settings) {}

void FormSettings::ReadFromWindow() {
  const OptionPage& option = *Form.Option;
  Settings.StartWithWindows = option.AutoLoadCheck->isChecked();
  Settings.StopWhenBattary = option.BatteryCheck->isChecked();
  Settings.SilentDefrag = option.SilentCheck->isChecked();
  Settings.AutoCheckUpdate = option.AutoUpdateCheck->isChecked();
  Settings.CloseMinimize = option.CloseSetCheck->isChecked();
  Settings.EnableTrayPrompt = option.TrayCheck->isChecked();
  Settings.EnableExclude = option.CheckBox_Exclude_largefile->isChecked();
  Settings.ExcludeSize = ExcludeSizeAt(option.TrackBar_Exclude_largefile->value());

  const AutoDefragPage& autoPage = *Form.autodefrag;
  Settings.EnableQuilloDefrag = autoPage.EnableQuilloCheck->isChecked();
  Settings.EnableCpuLimit = autoPage.CheckBox_CpuLimit->isChecked();
  Settings.CpuLimitValue =
      AutoDefragPage::CpuLimitSteps[size_t(autoPage.TrackBar_StopDefrag_CPUuage->value())];
  Settings.EnableAutoIdleTime = autoPage.CheckBox_Start_AutoDefrag->isChecked();
  Settings.AutoIdleTime = autoPage.TrackBar_StartAuto_Time->value();

  const SchedulePage& schedule = *Form.schedule;
  Settings.EnableSchedule = schedule.ScheduleCheck->isChecked();
  Settings.IsOptDefrag_Task = schedule.ComboBox_Action->currentIndex() == SchedulePage::kActionOptimize;
  Settings.scheduledisk.clear();
  for (int row = 0; row < schedule.ScheduleList->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = schedule.ScheduleList->topLevelItem(row);
    const QString caption = item->text(0);
    if (Ticked(item) && !caption.isEmpty()) Settings.scheduledisk += caption.left(1).toStdString();
  }

  const QString language = option.ComboBox_Language->currentText();
  if (!language.isEmpty()) Settings.Language = language.toStdString();
}

void FormSettings::ApplyToWindow() {
  Settings.Translator.SetLanguage(Settings.Language);
  // The method's description follows the language.
  Form.manualdefrag->ComboBox_FastOrOptDefragChange();
  ApplyStartWithWindows();
  ApplyOptionBoxes();
  ApplySizeLimits();
  ApplyAutoDefragPage();
  ApplySchedule();
  ApplyLanguageBox();
}

void FormSettings::ApplyStartWithWindows() {
  Form.Option->AutoLoadCheck->setChecked(Settings.StartWithWindows);
  // Written again at every apply, so the entry follows the setting.
  if (Settings.StartWithWindows)
    Form.Tasks().NewTaskAtLogOn(kLogOnTaskName, RunningProgramFile(), kStartUpParameters);
  else
    Form.Tasks().DeleteTask(kLogOnTaskName);
}

void FormSettings::ApplyOptionBoxes() {
  OptionPage& option = *Form.Option;
  option.BatteryCheck->setChecked(Settings.StopWhenBattary);
  option.SilentCheck->setChecked(Settings.SilentDefrag);
  option.AutoUpdateCheck->setChecked(Settings.AutoCheckUpdate);
  option.CloseSetCheck->setChecked(Settings.CloseMinimize);
  option.TrayCheck->setChecked(Settings.EnableTrayPrompt);
  option.CheckBox_Exclude_largefile->setChecked(Settings.EnableExclude);
  // A size that is no step leaves the trackbar where it is.
  const int position = ExcludeSizePosition(Settings.ExcludeSize);
  if (position >= 0) option.TrackBar_Exclude_largefile->setValue(position);
  option.TrackBar_Exclude_largefileChange();
}

void FormSettings::ApplySizeLimits() {
  const int64_t limit = EngineSizeLimit(Settings.EnableExclude, Settings.ExcludeSize);
  // One atomic store each: a running analysis reads either limit whole.
  for (TDefragThread* job : Form.Volumes().Jobs()) job->Engine().SizeLimit.store(limit);
}

void FormSettings::ApplyAutoDefragPage() {
  AutoDefragPage& page = *Form.autodefrag;
  // Ticking the box runs its click handler, which enables or disables the
  // controls that depend on it.
  page.EnableQuilloCheck->setChecked(Settings.EnableQuilloDefrag);
  const bool active = Settings.EnableQuilloDefrag;
  page.ShowStatusLine(active);
  page.CheckBox_CpuLimit->setEnabled(active);
  page.CheckBox_Start_AutoDefrag->setEnabled(active);
  page.Button_Optimal_Settings->setEnabled(active);

  page.CheckBox_CpuLimit->setChecked(Settings.EnableCpuLimit);
  page.TrackBar_StopDefrag_CPUuage->setValue(AutoDefragPage::CpuLimitPosition(Settings.CpuLimitValue));
  page.TrackBar_StopDefrag_CPUuageChange();

  page.CheckBox_Start_AutoDefrag->setChecked(Settings.EnableAutoIdleTime);
  // The trackbar holds the minutes within 1 to 10.
  page.TrackBar_StartAuto_Time->setValue(Settings.AutoIdleTime);
  page.TrackBar_StartAuto_TimeChange();
}

void FormSettings::ApplySchedule() {
  SchedulePage& schedule = *Form.schedule;
  {
    // Its click handler stores and applies the settings: not from here.
    const QSignalBlocker quiet(schedule.ScheduleCheck);
    schedule.ScheduleCheck->setChecked(Settings.EnableSchedule);
  }
  {
    // Selecting by program is no change of the user's.
    const QSignalBlocker quiet(schedule.ComboBox_Action);
    schedule.ComboBox_Action->setCurrentIndex(Settings.IsOptDefrag_Task ? SchedulePage::kActionOptimize
                                                                        : SchedulePage::kActionFast);
  }

  const bool on = Settings.EnableSchedule;
  schedule.ScheduleConfigBtn->setEnabled(on);
  schedule.scheduletimelabel->setEnabled(on);
  schedule.ComboBox_Action->setEnabled(on);
  ScheduleTask task(Form.Tasks(), Form.SystemClock(), RunningProgramFile());
  if (!on) {
    task.Delete();
    schedule.scheduletimelabel->clear();
    return;
  }
  // A task deleted behind the program's back comes again.
  task.CreateIfMissing();
  schedule.scheduletimelabel->setText(QString::fromStdU16String(task.TimeText()));

  // Ticking rows by program is no click in the list.
  const QSignalBlocker quiet(schedule.ScheduleList);
  const QString method = QString::fromLatin1(Settings.IsOptDefrag_Task ? kOptDefragText : kFastDefragText);
  for (const char letter : Settings.scheduledisk) {
    for (int row = 0; row < schedule.ScheduleList->topLevelItemCount(); ++row) {
      QTreeWidgetItem* item = schedule.ScheduleList->topLevelItem(row);
      if (!item->text(0).startsWith(QChar::fromLatin1(letter), Qt::CaseSensitive)) continue;
      item->setCheckState(0, Qt::Checked);
      item->setText(SchedulePage::kMethodColumn, method);
      break;
    }
  }
}

void FormSettings::ApplyLanguageBox() {
  QComboBox* box = Form.Option->ComboBox_Language;
  // Filling the box by program is no choice of the user's.
  const QSignalBlocker quiet(box);
  box->clear();
  int selected = -1;
  for (const std::string& name : Settings.Translator.Names) {
    if (selected < 0 && EqualsIgnoringCase(name, Settings.Language)) selected = box->count();
    box->addItem(QString::fromStdString(name));
  }
  box->setCurrentIndex(selected);
}

} // namespace quillo
