// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/OptionPage.h"

#include "settings/ExcludeSizeSteps.h"
#include "settings/Language.h"
#include "settings/MessageText.h"

namespace quillo {

namespace {
constexpr int kExcludeSteps = int(ExcludeSizeSteps.size()) - 1;
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

  // A box set by program counts as a click, as the settings rely on.
  for (QCheckBox* box : {CloseSetCheck, AutoLoadCheck, AutoUpdateCheck, TrayCheck, SilentCheck,
                         BatteryCheck, CheckBox_Exclude_largefile})
    connect(box, &QCheckBox::toggled, this, &OptionPage::OptionBoxClick);
  connect(ComboBox_Language, &QComboBox::currentIndexChanged, this,
          &OptionPage::ComboBox_LanguageChange);
  connect(TrackBar_Exclude_largefile, &QSlider::valueChanged, this,
          &OptionPage::TrackBar_Exclude_largefileChange);
}

void OptionPage::OptionBoxClick() { SettingApplyBtn->setEnabled(true); }

void OptionPage::ComboBox_LanguageChange() { SettingApplyBtn->setEnabled(true); }

void OptionPage::TrackBar_Exclude_largefileChange() {
  const std::string caption =
      Translator ? Translator->Lookup(messages::kExcludeLargefile)
                 : std::string(messages::kExcludeLargefile.Default);
  const int32_t megabytes = ExcludeSizeAt(TrackBar_Exclude_largefile->value()) / kKilobytesPerMegabyte;
  CheckBox_Exclude_largefile->setText(
      QString::fromStdString(caption + " " + FormatMegabytes(megabytes)));
  SettingApplyBtn->setEnabled(true);
}

} // namespace quillo
