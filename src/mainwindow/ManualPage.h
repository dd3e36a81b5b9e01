// SPDX-License-Identifier: GPL-2.0-or-later
// The manual defrag page ("manualdefrag"): the volume list, the command
// buttons with the method box, the gauge, the frame of the map, the legend
// and the totals. Its handlers command the ticked volumes' jobs.
#pragma once

#include <QFrame>
#include <QList>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "mainwindow/FormControls.h"
#include "mainwindow/ManualLayout.h"

namespace quillo {

class TDefragThread;
class TLanguage;

// What the page needs from the main window.
class ManualPageHost {
public:
  virtual ~ManualPageHost() = default;
  // The jobs of the ticked rows, top to bottom.
  virtual std::vector<TDefragThread*> TickedJobs() = 0;
  // One tick of the status timer.
  virtual void RunStatusTick() = 0;
  virtual void ShowReportWindow() = 0;
  // A plain message box.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual TLanguage& Language() = 0;
  // The row whose map, progress and totals are shown.
  virtual void SetCurrentVolumeIndex(int32_t index) = 0;
  // Analyze or GO gave the job its command: the end of that run is told on
  // the desktop when the window is hidden.
  virtual void NoteStartedByUser(TDefragThread& job) { (void)job; }
  // Whether GO may write to the job's volume: a real block device asks its
  // user first, once unless told not to again.
  virtual bool MayWrite(TDefragThread& job) {
    (void)job;
    return true;
  }
  // Whether a command may start on the job's volume: a mounted one asks its
  // user whether to unmount it for the work, and is unmounted on yes.
  virtual bool MayUnmount(TDefragThread& job) {
    (void)job;
    return true;
  }
};

class ManualPage final : public QWidget {
  Q_OBJECT

public:
  // ManuImageList: 1 marks the current volume, 3 the others.
  static constexpr int kCurrentVolumeImage = 1;
  static constexpr int kOtherVolumeImage = 3;
  // Left edges of GO and Analyze, where Pause and Resume stand in.
  static constexpr int kGoLeft = 14;
  static constexpr int kAnalyzeLeft = 423;
  static constexpr int kMethodFast = 0;
  static constexpr int kMethodOptimize = 1;

  ManualPage(QWidget* parent, ManualPageHost& host);

  // Applies the layout rule (UpdateManualButtons without the deciding).
  void ApplyLayout(const ManualLayout& layout);
  // The mode the method box stands for.
  uint8_t ChosenMode() const;
  QIcon VolumeImage(int index) const { return ManuImageList.value(index); }
  // Ticks or unticks a row without counting as a click on its check box.
  static void SetTicked(QTreeWidgetItem* item, bool ticked);

  // --- Controls, by their design names ---
  QTreeWidget* manulist;
  QPushButton* ManuDefragBtn;
  QPushButton* ManuPauseBtn;
  QPushButton* ManuResumeBtn;
  QComboBox* ComboBox_FastOrOptDefrag;
  QPushButton* ManuStopBtn;
  QPushButton* ManuAnalyzeBtn;
  QPushButton* ViewReportBtn;
  QLabel* Label_Defrag_Introduction;
  QProgressBar* Guage_Progress;
  QFrame* DiskBevel;
  QLabel* Image_Free_Space;
  QLabel* Label_Legend_FreeSpace;
  QLabel* Image_Rarely_used;
  QLabel* Label_Legend_RarelyUsed;
  QLabel* Image_Frequent_used;
  QLabel* Label_Legend_FrequentlyUsed;
  QLabel* Image_Directory;
  QLabel* Label_Legend_Directory;
  QLabel* Image_Mft;
  QLabel* Label_Legend_Mft;
  QLabel* Image_Excluded;
  QLabel* Label_Legend_Excluded;
  QLabel* Image_Fragmented;
  QLabel* Label_Legend_Fragmented;
  QLabel* Image_Moving_to;
  QLabel* Label_Legend_MovingTo;
  QLabel* Label_TotalFilesDirs_Title;
  QLabel* TotalFilesDirs;
  QLabel* Label_FragmentedFilesDir_Title;
  QLabel* FragmentedFilesDir;
  QCheckBox* CheckBox_auto_shutdown;
  QList<QIcon> ManuImageList;

public slots:
  void ManuDefragBtnClick();
  void ManuAnalyzeBtnClick();
  void ManuPauseBtnClick();
  void ManuResumeBtnClick();
  void ManuStopBtnClick();
  void ViewReportBtnClick();
  void ComboBox_FastOrOptDefragChange();
  void CheckBox_auto_shutdownClick();
  // Any click in the list: the selection follows the ticks, then a tick.
  void manulistClick();
  // A check box of a row was toggled: the row becomes current when ticked.
  void manulistCheckChange(QTreeWidgetItem* item, int column);
  // A row's label was clicked: the row becomes current when ticked.
  void manulistItemClick(QTreeWidgetItem* item, int column);

public:
  // Lays the legend and the totals line out again for their current texts
  // (after a translation).
  void ArrangeTexts();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void CreateLegend();
  void PlaceLegend();
  void PlaceTotals();
  // Runs `command` on every ticked job, then a tick; an error ends the loop
  // and is shown.
  template <typename Command> void ForEachTickedJob(Command command);
  void MakeCurrent(QTreeWidgetItem* item);
  // Every row selected exactly when it is ticked.
  void MirrorTicks();

  ManualPageHost& Host;
  bool Mirroring = false;
};

} // namespace quillo
