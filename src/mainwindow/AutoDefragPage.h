// SPDX-License-Identifier: GPL-2.0-or-later
// The auto defrag page ("autodefrag"): the disk and processor graphs, the
// status line of automatic defragmentation and its options. The status
// timer writes Label_AutoDefrag_Count and Label_LastAutoDefrag; the one-second
// timer fills the graphs. Applying and re-reading the stored settings is
// the settings' business: the page asks for it through its signals.
#pragma once

#include <QFrame>
#include <QWidget>

#include <array>

#include "mainwindow/FormControls.h"
#include "settings/Language.h"

namespace quillo {

class AutoDefragPage final : public QWidget {
  Q_OBJECT

public:
  static constexpr int kGraphWidth = 560;
  static constexpr int kGraphHeight = 41;

  // Percent by position of TrackBar_StopDefrag_CPUuage.
  static constexpr std::array<int, 9> CpuLimitSteps = {20, 30, 40, 50, 60, 70, 80, 90, 100};
  static constexpr int kOptimalCpuLimitPosition = 2; // 40 %
  static constexpr int kOptimalIdleMinutes = 5;

  explicit AutoDefragPage(QWidget* parent);

  // Shows a 32-bit graph picture in one of the two graph images.
  static void ShowGraph(QLabel* image, const QImage& picture);

  // The trackbar position that shows a stored processor limit, within the
  // trackbar's range.
  static int CpuLimitPosition(int percent);
  // The captions are looked up here at the moment of use; without a
  // language, the built-in English texts. The trackbars' captions are
  // written at once.
  void SetLanguage(TLanguage* language);
  // The status line for the setting EnableQuilloDefrag: the tick or the
  // attention picture with its text.
  void ShowStatusLine(bool enabled);
  // The notice under the status line that automatic runs cannot start for
  // want of a system volume; written only when it changes.
  void ShowSystemVolumeNotice(bool missing);
  // The page was opened through its side-bar tile: the stored settings are
  // shown again and Apply is disabled.
  void PageOpened();

public slots:
  void EnableQuilloCheckClick();
  void TrackBar_StopDefrag_CPUuageChange();
  void TrackBar_StartAuto_TimeChange();
  // CheckBox_CpuLimit and CheckBox_Start_AutoDefrag.
  void OptionCheckClick();
  void Button_Optimal_SettingsClick();
  void AutoApplyBtnClick();
  void AutoCancelBtnClick();

signals:
  // Apply: the controls are to be read into the settings, saved and applied
  // to the windows again.
  void SettingsEdited();
  // The stored settings are to be applied to the windows again.
  void SettingsReapplyRequested();
  // Cancel: back to the manual page, as its side-bar tile does.
  void ManualPageRequested();

public:

  QLabel* Label_DiskUsage;
  QLabel* ioratiolabel;
  QFrame* DiskGraphFrame;
  QLabel* diskstatusimg;
  QLabel* Label_CpuUsage;
  QLabel* Label2;
  QFrame* CpuGraphFrame;
  QLabel* cpuusageimg;
  QLabel* autoimg;
  QLabel* autoimglabel;
  QLabel* Label_AutoDefrag_Count;
  QLabel* Label_LastAutoDefrag;
  QLabel* Label_NoSystemVolume;
  QLabel* imgok;
  QLabel* imgattention;
  QLabel* LabelAutoDefragDesc;
  QGroupBox* GroupBox_AutoOptions;
  QCheckBox* EnableQuilloCheck;
  QCheckBox* CheckBox_CpuLimit;
  QSlider* TrackBar_StopDefrag_CPUuage;
  QCheckBox* CheckBox_Start_AutoDefrag;
  QSlider* TrackBar_StartAuto_Time;
  QPushButton* Button_Optimal_Settings;
  QPushButton* AutoCancelBtn;
  QPushButton* AutoApplyBtn;

private:
  std::string Text(const MessageText& text);
  // The two option captions for the trackbars' positions.
  void WriteCpuLimitCaption();
  void WriteIdleTimeCaption();

  TLanguage* Texts = nullptr;
};

} // namespace quillo
