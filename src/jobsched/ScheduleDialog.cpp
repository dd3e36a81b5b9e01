// SPDX-License-Identifier: GPL-2.0-or-later
#include "jobsched/ScheduleDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <array>
#include <cstdlib>
#include <memory>

namespace quillo::jobsched {

namespace {

constexpr const char* kTimeFormat = "HH:mm";
// A display the toolkit can open: an X server, a Wayland compositor, or a
// platform chosen outright.
constexpr std::array<const char*, 3> kDisplayVariables = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
// Listed from Monday.
constexpr std::array<int, WeeklySchedule::kDaysPerWeek> kBoxOrder = {1, 2, 3, 4, 5, 6, 0};

bool HasDisplay() {
  for (const char* name : kDisplayVariables) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

std::optional<WeeklySchedule> RunDialog(const std::string& taskName, const WeeklySchedule& schedule) {
  QDialog dialog;
  dialog.setObjectName(ScheduleDialog::kDialogName);
  dialog.setWindowTitle(QStringLiteral("Schedule: %1").arg(QString::fromStdString(taskName)));
  dialog.setModal(true);

  auto* layout = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout;
  layout->addLayout(form);

  auto* days = new QHBoxLayout;
  std::array<QCheckBox*, WeeklySchedule::kDaysPerWeek> boxes{};
  for (int weekday : kBoxOrder) {
    auto* box = new QCheckBox(QString::fromLatin1(WeeklySchedule::WeekdayName(weekday)).left(3));
    box->setObjectName(QString::fromLatin1(WeeklySchedule::WeekdayName(weekday)));
    box->setChecked((schedule.Weekdays >> weekday) & 1);
    boxes[size_t(weekday)] = box;
    days->addWidget(box);
  }
  form->addRow(QStringLiteral("Days:"), days);

  auto* time = new QTimeEdit(QTime(schedule.Hour, schedule.Minute));
  time->setObjectName(ScheduleDialog::kTimeName);
  time->setDisplayFormat(QString::fromLatin1(kTimeFormat));
  form->addRow(QStringLiteral("Time:"), time);

  auto* interval = new QSpinBox;
  interval->setObjectName(ScheduleDialog::kIntervalName);
  interval->setRange(WeeklySchedule::kMinInterval, WeeklySchedule::kMaxInterval);
  interval->setValue(schedule.IntervalWeeks);
  interval->setPrefix(QStringLiteral("every "));
  interval->setSuffix(QStringLiteral(" week(s)"));
  form->addRow(QStringLiteral("Repeat:"), interval);

  form->addRow(QStringLiteral("Starting:"), new QLabel(QString::fromStdString(schedule.StartDateText())));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName(ScheduleDialog::kOkName);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

  // A weekly task runs on at least one day.
  auto updateOk = [&boxes, ok] {
    bool any = false;
    for (QCheckBox* box : boxes) any = any || box->isChecked();
    ok->setEnabled(any);
  };
  for (QCheckBox* box : boxes) QObject::connect(box, &QCheckBox::toggled, &dialog, updateOk);
  updateOk();

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;

  WeeklySchedule edited = schedule;
  edited.Weekdays = 0;
  for (int weekday = 0; weekday < WeeklySchedule::kDaysPerWeek; ++weekday) {
    if (boxes[size_t(weekday)]->isChecked()) edited.Weekdays |= 1 << weekday;
  }
  edited.Hour = time->time().hour();
  edited.Minute = time->time().minute();
  edited.IntervalWeeks = interval->value();
  if (!edited.IsValid()) return std::nullopt;
  return edited;
}

} // namespace

std::optional<WeeklySchedule> ScheduleDialog::Edit(const std::string& taskName, const WeeklySchedule& schedule) {
  if (QCoreApplication::instance() != nullptr) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return std::nullopt;
    return RunDialog(taskName, schedule);
  }
  if (!HasDisplay()) return std::nullopt;
  // A program without a Qt application of its own: one just for the dialog.
  static char applicationName[] = "jobsched";
  int argc = 1;
  char* argv[] = {applicationName, nullptr};
  auto application = std::make_unique<QApplication>(argc, argv);
  return RunDialog(taskName, schedule);
}

} // namespace quillo::jobsched
