// SPDX-License-Identifier: GPL-2.0-or-later
// The auto defrag page ("autodefrag"): the disk and processor graphs, the
// status line of automatic defragmentation and its options. The status
// timer writes Label_AutoDefrag_Count and Label_LastAutoDefrag; the one-second
// timer fills the graphs.
#pragma once

#include <QFrame>
#include <QWidget>

#include "mainwindow/FormControls.h"

namespace quillo {

class AutoDefragPage final : public QWidget {
  Q_OBJECT

public:
  static constexpr int kGraphWidth = 560;
  static constexpr int kGraphHeight = 41;

  explicit AutoDefragPage(QWidget* parent);

  // Shows a 32-bit graph picture in one of the two graph images.
  static void ShowGraph(QLabel* image, const QImage& picture);

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
};

} // namespace quillo
