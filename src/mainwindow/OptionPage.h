// SPDX-License-Identifier: GPL-2.0-or-later
// The options page ("Option"): the general and defragmentation options with
// OK, Cancel and Apply.
#pragma once

#include <QWidget>

#include "mainwindow/FormControls.h"

namespace quillo {

class OptionPage final : public QWidget {
  Q_OBJECT

public:
  explicit OptionPage(QWidget* parent);

  QGroupBox* GroupBox_General;
  QCheckBox* CloseSetCheck;
  QCheckBox* AutoLoadCheck;
  QCheckBox* AutoUpdateCheck;
  QCheckBox* TrayCheck;
  QLabel* Label_SelectLanguage;
  QComboBox* ComboBox_Language;
  QGroupBox* GroupBox_Defragment;
  QCheckBox* SilentCheck;
  QCheckBox* BatteryCheck;
  QCheckBox* CheckBox_Exclude_largefile;
  QSlider* TrackBar_Exclude_largefile;
  QPushButton* SettingOkBtn;
  QPushButton* SettingCancelBtn;
  QPushButton* SettingApplyBtn;
};

} // namespace quillo
