// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/AutoDefragPage.h"

#include <QImage>
#include <QPixmap>
#include <QSignalBlocker>

#include <algorithm>

#include "mainwindow/Pictures.h"
#include "mainwindow/StatusTexts.h"
#include "settings/MessageText.h"

namespace quillo {

namespace {
constexpr int kLeft = 20;
constexpr int kStatusIconSize = 17;
constexpr int kCpuLimitPositions = 8;
constexpr int kIdleMinutesFirst = 1;
constexpr int kIdleMinutesLast = 10;
constexpr int kPercentPerStep = 10;
constexpr int kStepsBelowFirst = 2; // 20 % is position 0

QFrame* GraphFrame(QWidget* parent, const char* name, int top) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(QString::fromLatin1(name));
  frame->setGeometry(kLeft - 1, top - 1, AutoDefragPage::kGraphWidth + 2,
                     AutoDefragPage::kGraphHeight + 2);
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  return frame;
}

QLabel* GraphImage(QWidget* parent, const char* name, int top) {
  QImage black(AutoDefragPage::kGraphWidth, AutoDefragPage::kGraphHeight, QImage::Format_RGB32);
  black.fill(Qt::black);
  return MakePicture(parent, name, QPixmap::fromImage(black),
                     QRect(kLeft, top, AutoDefragPage::kGraphWidth, AutoDefragPage::kGraphHeight));
}
} // namespace

AutoDefragPage::AutoDefragPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("autodefrag"));

  Label_DiskUsage = MakeLabel(this, "Label_DiskUsage", "Disk Usage", QRect(kLeft, 12, 100, 16));
  ioratiolabel = MakeLabel(this, "ioratiolabel", "0%", QRect(kLeft + 104, 12, 60, 16));
  DiskGraphFrame = GraphFrame(this, "DiskGraphFrame", 32);
  diskstatusimg = GraphImage(this, "diskstatusimg", 32);

  Label_CpuUsage = MakeLabel(this, "Label_CpuUsage", "CPU  Usage", QRect(kLeft, 86, 100, 16));
  Label2 = MakeLabel(this, "Label2", "0%", QRect(kLeft + 104, 86, 60, 16));
  CpuGraphFrame = GraphFrame(this, "CpuGraphFrame", 106);
  cpuusageimg = GraphImage(this, "cpuusageimg", 106);

  QPixmap ok = Picture(QStringLiteral("status_ok"), kStatusIconSize, kStatusIconSize);
  QPixmap attention = Picture(QStringLiteral("status_attention"), kStatusIconSize, kStatusIconSize);
  autoimg = MakePicture(this, "autoimg", ok, QRect(kLeft, 162, kStatusIconSize, kStatusIconSize));
  autoimglabel = MakeLabel(this, "autoimglabel", "Auto Defrag is active", QRect(42, 162, 150, 17));
  Label_AutoDefrag_Count = MakeLabel(this, "Label_AutoDefrag_Count",
                                     "%d files has been defragmented", QRect(196, 162, 170, 17));
  Label_LastAutoDefrag =
      MakeLabel(this, "Label_LastAutoDefrag", "Last Auto Defrag:", QRect(370, 162, 210, 17));
  Label_LastAutoDefrag->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label_NoSystemVolume =
      MakeLabel(this, "Label_NoSystemVolume", QString(), QRect(42, 178, 520, 12));
  FitHeightToFont(Label_NoSystemVolume);
  Label_NoSystemVolume->hide();
  imgok = MakePicture(this, "imgok", ok, QRect(0, 0, kStatusIconSize, kStatusIconSize));
  imgattention =
      MakePicture(this, "imgattention", attention, QRect(0, 0, kStatusIconSize, kStatusIconSize));
  imgok->hide();
  imgattention->hide();

  LabelAutoDefragDesc = MakeLabel(
      this, "LabelAutoDefragDesc",
      "With the novel technology, Auto Defrag automatically defrags file system while PC is idle "
      "and avoids unnecessary defragmenting to protect your hard disk.",
      QRect(kLeft, 190, kGraphWidth, 34));
  LabelAutoDefragDesc->setWordWrap(true);

  GroupBox_AutoOptions =
      MakeGroupBox(this, "GroupBox_AutoOptions", "Options", QRect(kLeft, 232, kGraphWidth, 150));
  EnableQuilloCheck = MakeCheckBox(GroupBox_AutoOptions, "EnableQuilloCheck", "Enable Auto Defrag",
                                   QRect(15, 24, 300, 20));
  CheckBox_CpuLimit = MakeCheckBox(GroupBox_AutoOptions, "CheckBox_CpuLimit",
                                   "Pause Auto Defrag when CPU usage exceeds(%d)",
                                   QRect(15, 60, 320, 20));
  TrackBar_StopDefrag_CPUuage = MakeTrackBar(GroupBox_AutoOptions, "TrackBar_StopDefrag_CPUuage",
                                             0, kCpuLimitPositions, QRect(345, 58, 195, 24));
  CheckBox_Start_AutoDefrag = MakeCheckBox(GroupBox_AutoOptions, "CheckBox_Start_AutoDefrag",
                                           "Start Auto Defrag when system idle exceeds(%d minutes)",
                                           QRect(15, 104, 320, 20));
  TrackBar_StartAuto_Time =
      MakeTrackBar(GroupBox_AutoOptions, "TrackBar_StartAuto_Time", kIdleMinutesFirst,
                   kIdleMinutesLast, QRect(345, 102, 195, 24));

  Button_Optimal_Settings = MakeButton(this, "Button_Optimal_Settings", "Use Optimal Settings",
                                       QRect(kLeft, 398, 150, 25));
  AutoCancelBtn = MakeButton(this, "AutoCancelBtn", "Cancel", QRect(420, 398, 75, 25));
  AutoApplyBtn = MakeButton(this, "AutoApplyBtn", "Apply", QRect(505, 398, 75, 25));
  AutoApplyBtn->setEnabled(false);

  // A box set to another state by the program counts as clicked, as a
  // trackbar moved by the program counts as changed.
  connect(EnableQuilloCheck, &QCheckBox::toggled, this, &AutoDefragPage::EnableQuilloCheckClick);
  connect(CheckBox_CpuLimit, &QCheckBox::toggled, this, &AutoDefragPage::OptionCheckClick);
  connect(CheckBox_Start_AutoDefrag, &QCheckBox::toggled, this, &AutoDefragPage::OptionCheckClick);
  connect(TrackBar_StopDefrag_CPUuage, &QSlider::valueChanged, this,
          &AutoDefragPage::TrackBar_StopDefrag_CPUuageChange);
  connect(TrackBar_StartAuto_Time, &QSlider::valueChanged, this,
          &AutoDefragPage::TrackBar_StartAuto_TimeChange);
  connect(Button_Optimal_Settings, &QPushButton::clicked, this,
          &AutoDefragPage::Button_Optimal_SettingsClick);
  connect(AutoApplyBtn, &QPushButton::clicked, this, &AutoDefragPage::AutoApplyBtnClick);
  connect(AutoCancelBtn, &QPushButton::clicked, this, &AutoDefragPage::AutoCancelBtnClick);
}

std::string AutoDefragPage::Text(const MessageText& text) {
  return Texts ? Texts->Lookup(text) : std::string(text.Default);
}

int AutoDefragPage::CpuLimitPosition(int percent) {
  int position = percent / kPercentPerStep - kStepsBelowFirst;
  return std::clamp(position, 0, int(CpuLimitSteps.size()) - 1);
}

void AutoDefragPage::ShowStatusLine(bool enabled) {
  autoimg->setPixmap((enabled ? imgok : imgattention)->pixmap());
  autoimglabel->setText(QString::fromStdString(
      Text(enabled ? messages::kAutoDefragActive : messages::kAutoDefragDisable)));
}

void AutoDefragPage::ShowSystemVolumeNotice(bool missing) {
  QString text = missing ? QString::fromStdString(Text(messages::kNoSystemVolume)) : QString();
  if (Label_NoSystemVolume->text() != text) Label_NoSystemVolume->setText(text);
  if (Label_NoSystemVolume->isHidden() == missing) Label_NoSystemVolume->setVisible(missing);
}

void AutoDefragPage::PageOpened() {
  emit SettingsReapplyRequested();
  AutoApplyBtn->setEnabled(false);
}

void AutoDefragPage::EnableQuilloCheckClick() {
  AutoApplyBtn->setEnabled(true);
  bool enabled = EnableQuilloCheck->isChecked();
  CheckBox_CpuLimit->setEnabled(enabled);
  CheckBox_Start_AutoDefrag->setEnabled(enabled);
  Button_Optimal_Settings->setEnabled(enabled);
}

void AutoDefragPage::SetLanguage(TLanguage* language) {
  Texts = language;
  WriteCpuLimitCaption();
  WriteIdleTimeCaption();
}

void AutoDefragPage::WriteCpuLimitCaption() {
  int percent = CpuLimitSteps[size_t(TrackBar_StopDefrag_CPUuage->value())];
  CheckBox_CpuLimit->setText(
      QString::fromStdString(FormatWithInteger(Text(messages::kCpuLimit), percent)));
}

void AutoDefragPage::WriteIdleTimeCaption() {
  CheckBox_Start_AutoDefrag->setText(QString::fromStdString(
      FormatWithInteger(Text(messages::kStartAutoDefrag), TrackBar_StartAuto_Time->value())));
}

void AutoDefragPage::TrackBar_StopDefrag_CPUuageChange() {
  WriteCpuLimitCaption();
  AutoApplyBtn->setEnabled(true);
}

void AutoDefragPage::TrackBar_StartAuto_TimeChange() {
  WriteIdleTimeCaption();
  AutoApplyBtn->setEnabled(true);
}

void AutoDefragPage::OptionCheckClick() { AutoApplyBtn->setEnabled(true); }

void AutoDefragPage::Button_Optimal_SettingsClick() {
  {
    // Each change handler runs once below, moved or not.
    const QSignalBlocker cpu(TrackBar_StopDefrag_CPUuage);
    const QSignalBlocker idle(TrackBar_StartAuto_Time);
    TrackBar_StopDefrag_CPUuage->setValue(kOptimalCpuLimitPosition);
    TrackBar_StartAuto_Time->setValue(kOptimalIdleMinutes);
  }
  TrackBar_StopDefrag_CPUuageChange();
  TrackBar_StartAuto_TimeChange();
  AutoApplyBtn->setEnabled(true);
}

void AutoDefragPage::AutoApplyBtnClick() {
  emit SettingsEdited();
  // Applying the settings ticks boxes, which enables Apply again.
  AutoApplyBtn->setEnabled(false);
}

void AutoDefragPage::AutoCancelBtnClick() { emit ManualPageRequested(); }

void AutoDefragPage::ShowGraph(QLabel* image, const QImage& picture) {
  image->setPixmap(QPixmap::fromImage(picture));
}

} // namespace quillo
