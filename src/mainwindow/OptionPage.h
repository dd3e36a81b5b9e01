// SPDX-License-Identifier: GPL-2.0-or-later
// The options page ("Option"): the general and defragmentation options with
// OK, Cancel and Apply. The page enables Apply when an option changes; what
// OK, Cancel and Apply do is the main window's.
#pragma once

#include <QWidget>

#include "mainwindow/FormControls.h"

namespace quillo {

class TLanguage;

class OptionPage final : public QWidget {
  Q_OBJECT

public:
  explicit OptionPage(QWidget* parent);

  // The language of the trackbar's caption; must outlive the page.
  void UseLanguage(TLanguage& language) { Translator = &language; }

  // Handlers. A click of an option box or a change of the language enables
  // Apply; a move of the trackbar also rewrites the exclusion caption with
  // the size of its position.
  void OptionBoxClick();
  void ComboBox_LanguageChange();
  void TrackBar_Exclude_largefileChange();

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

private:
  TLanguage* Translator = nullptr;
};

} // namespace quillo
