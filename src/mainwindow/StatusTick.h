// SPDX-License-Identifier: GPL-2.0-or-later
// One tick of Timer_GetDefragRuntimeData: the status and time columns, the
// current volume's map, gauge and totals, the button layout, the auto-defrag
// step, the battery guard, the tray animation, the completion codes with
// their bookkeeping, and the two labels of the auto page.
#pragma once

#include <cstdint>

namespace quillo {

class TMainForm;
class TDefragThread;

class StatusTick {
public:
  explicit StatusTick(TMainForm& form) : Form(form) {}

  // Raises the settings' write error when the times cannot be saved; the
  // rest of the tick is then skipped.
  void Run();
  // UpdateManualButtons: the layout rule for the ticked rows.
  void UpdateManualButtons();

private:
  void ShowRow(int row);
  void ShowCurrentVolume(TDefragThread& job);
  // Tells the user once, after the tick, that the row's job died.
  void TellDeath(int row);
  void GuardBattery();
  void AnimateTray();
  // The mean progress of the running jobs in the title and on the task bar.
  void ShowProgress();
  void TakeCompletion(int row);
  // The end of a run the user started, on the desktop while the window is
  // out of sight.
  void TellFinishedRun(int row, uint8_t notice, bool written);
  void ShowAutoPageLabels();
  bool AnyJobRunning();
  // Presses View Report for the row's volume.
  void OpenReportFor(int row);

  // Ticks between looks at the volumes that were busy or mounted: about
  // five seconds of the 700 ms timer.
  static constexpr int kReprobeTicks = 7;

  TMainForm& Form;
  int TicksSinceReprobe = 0;
};

} // namespace quillo
