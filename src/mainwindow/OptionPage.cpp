// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/OptionPage.h"

namespace quillo {

namespace {
constexpr int kExcludeSteps = 6;
constexpr int kRowHeight = 20;
constexpr int kBoxWidth = 560;
} // namespace

OptionPage::OptionPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Option"));

  GroupBox_General = MakeGroupBox(this, "GroupBox_General", "General", QRect(20, 12, 595, 168));
  CloseSetCheck = MakeCheckBox(GroupBox_General, "CloseSetCheck",
                               "Minimize to system tray when program is closed. (Recommended)",
                               QRect(15, 24, kBoxWidth, kRowHeight));
  AutoLoadCheck = MakeCheckBox(GroupBox_General, "AutoLoadCheck",
                               "Load automatically at Windows startup(Recommended)",
                               QRect(15, 50, kBoxWidth, kRowHeight));
  AutoUpdateCheck = MakeCheckBox(GroupBox_General, "AutoUpdateCheck",
                                 "Automatically Check for Updates", QRect(15, 76, kBoxWidth, kRowHeight));
  TrayCheck = MakeCheckBox(GroupBox_General, "TrayCheck", "Enable tray prompt",
                           QRect(15, 102, kBoxWidth, kRowHeight));
  Label_SelectLanguage = MakeLabel(GroupBox_General, "Label_SelectLanguage", "Select the language:",
                                   QRect(15, 136, 130, kRowHeight));
  ComboBox_Language = MakeDropDown(GroupBox_General, "ComboBox_Language", {}, QRect(150, 133, 170, 24));

  GroupBox_Defragment =
      MakeGroupBox(this, "GroupBox_Defragment", "Defragment", QRect(20, 192, 595, 150));
  SilentCheck = MakeCheckBox(GroupBox_Defragment, "SilentCheck",
                             "Enable Quillo Silent Technology While Defrag(Recommend)",
                             QRect(15, 24, kBoxWidth, kRowHeight));
  BatteryCheck = MakeCheckBox(GroupBox_Defragment, "BatteryCheck",
                              "Stop defrag while using battery(Recommend)",
                              QRect(15, 50, kBoxWidth, kRowHeight));
  CheckBox_Exclude_largefile = MakeCheckBox(GroupBox_Defragment, "CheckBox_Exclude_largefile",
                                            "Exclude large files to defrag,Exclude files larger than ",
                                            QRect(15, 76, kBoxWidth, kRowHeight));
  TrackBar_Exclude_largefile = MakeTrackBar(GroupBox_Defragment, "TrackBar_Exclude_largefile", 0,
                                            kExcludeSteps, QRect(33, 106, 300, 24));

  SettingOkBtn = MakeButton(this, "SettingOkBtn", "OK", QRect(370, 398, 75, 25));
  SettingCancelBtn = MakeButton(this, "SettingCancelBtn", "Cancel", QRect(455, 398, 75, 25));
  SettingApplyBtn = MakeButton(this, "SettingApplyBtn", "Apply", QRect(540, 398, 75, 25));
  SettingApplyBtn->setEnabled(false);
}

} // namespace quillo
