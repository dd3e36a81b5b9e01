// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/AutoDefragPage.h"

#include <QImage>
#include <QPixmap>

#include "mainwindow/Pictures.h"

namespace quillo {

namespace {
constexpr int kLeft = 20;
constexpr int kStatusIconSize = 17;
constexpr int kCpuLimitPositions = 8;
constexpr int kIdleMinutesFirst = 1;
constexpr int kIdleMinutesLast = 10;

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
}

void AutoDefragPage::ShowGraph(QLabel* image, const QImage& picture) {
  image->setPixmap(QPixmap::fromImage(picture));
}

} // namespace quillo
