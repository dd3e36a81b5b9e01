// SPDX-License-Identifier: GPL-2.0-or-later
// The volumes of the main window: the rows of the manual list and of the
// schedule list, kept in step, and the job of each volume with its map on
// the manual page. A row and its job exist together.
#pragma once

#include <QTreeWidget>

#include <memory>
#include <string>
#include <vector>

#include "engine/DefragClass.h"
#include "jobs/DefragThread.h"
#include "mainwindow/SystemVolumeRule.h"
#include "mainwindow/VolumeCatalog.h"
#include "mainwindow/VolumeMapView.h"

namespace quillo {

class ManualPage;
class WindowDispatcher;

// What the jobs are made with. All must outlive the list.
struct JobServices {
  VolumeCatalog& Catalog;
  EngineServices Engine;
  EngineFactory& Engines;
  DefragThreadOptions Options;
};

class VolumeList {
public:
  VolumeList(ManualPage& page, QTreeWidget* scheduleList, const JobServices& services);
  // Shutdown() must have run.
  ~VolumeList();
  VolumeList(const VolumeList&) = delete;
  VolumeList& operator=(const VolumeList&) = delete;

  // ListVolumes: both lists cleared and filled with the fixed volumes whose
  // information and size can be read. The others are listed after them on
  // the manual list only, disabled (see Unusable).
  void ListVolumes();
  // One job per row, first to last; a row whose job cannot be created is
  // removed from both lists and listed as unusable.
  void CreateJobs();
  // RefreshVolumes, first half: rows and jobs for fixed volumes that have
  // none, unusable ones included when they can be used now. Like every job
  // of the list, theirs release the volume while idle.
  void AddArrivedVolumes();
  // Looks again at the unusable volumes whose obstacle may have gone
  // (busy, mounted); true when one of them got a row.
  bool ReprobeWaitingVolumes();
  // How many volumes are listed as unusable, and how many of those are
  // worth looking at again.
  int UnusableCount() const { return int(Unusables.size()); }
  int WaitingCount() const;
  // RefreshVolumes, second half: the rows of volumes that are gone, last to
  // first; each job is stopped and retired. `currentIndex` follows its
  // volume; returns whether the current row itself was removed.
  bool RemoveDepartedVolumes(int32_t& currentIndex);
  // Ends the retired jobs that have come to rest; returns how many. Their
  // volumes are let go, so a volume that came back meanwhile can be listed.
  size_t ReleaseRetiredJobs();

  int Count() const { return int(Rows.size()); }
  TDefragThread& Job(int row) { return *Rows[size_t(row)].Job; }
  // What the device made of the writes of the row's last pass: a refused or
  // failed pass is shown as such, not as done.
  const WriteVerdict& PassVerdict(int row) const { return Rows[size_t(row)].Verdict; }
  void SetPassVerdict(int row, WriteVerdict verdict) { Rows[size_t(row)].Verdict = std::move(verdict); }
  // True once for a row whose job has died, the first time it is asked
  // after the death: the error is told to the user once.
  bool TakeUnreportedDeath(int row);
  // Who gave the job its last command: the user from the manual page, or
  // the schedule. Taken once, when the command's run ends.
  void NoteStarter(const TDefragThread& job, bool byUser);
  bool TakeStartedByUser(int row);
  VolumeMapView& Map(int row) { return *Rows[size_t(row)].View; }
  // Where the row's volume lies, its label and drive, one per line; the
  // status tooltip adds to it.
  const QString& Identity(int row) const { return Rows[size_t(row)].Identity; }
  // The first character of the row's caption: its drive letter.
  char Letter(int row) const;
  bool IsTicked(int row) const;
  QTreeWidgetItem* Item(int row) const;
  std::vector<TDefragThread*> TickedJobs() const;
  // Every job, row order.
  std::vector<TDefragThread*> Jobs() const;
  // Each row's letter and whether its volume held a "Windows" directory at
  // its root when it was listed, row order.
  std::vector<ListedVolume> ListedVolumes() const;

  // Why volumes were left out (one line each: "D:\ mounted"), for the
  // message shown when none is left.
  const std::vector<std::string>& Refusals() const { return RefusalLines; }

  // Stops every busy job, detaches the maps, closes the hand-over and ends
  // the jobs. The jobs wind down at their next check point.
  void Shutdown(WindowDispatcher& dispatcher);

private:
  struct Row {
    std::string Root;
    std::shared_ptr<VolumeDevice> Device; // until the job takes it
    std::unique_ptr<TDefragThread> Job;
    std::unique_ptr<VolumeMapView> View;
    bool HoldsWindows = false;
    WriteVerdict Verdict;
    bool DeathReported = false;
    QString Identity = QString();
    bool StartedByUser = false;
  };
  // A volume that cannot be used: an item of the manual list after the
  // rows, disabled, with a few words in its status and the reason in its
  // tooltip.
  struct Unusable {
    std::string Root;
    bool Passing = false;
  };
  struct Candidate {
    std::string Root;
    std::string FileSystem;
    uint64_t TotalBytes = 0;
    std::shared_ptr<VolumeDevice> Device;
    bool HoldsWindows = false;
  };

  // The volume behind a fixed root, or why there is none.
  bool Probe(const std::string& root, Candidate& out, std::string& why);
  void AddRows(const Candidate& candidate);
  void RemoveRow(size_t index);
  // Makes the row's job; false with `why` when it cannot be made.
  bool AttachJob(Row& row, std::string& why);
  // Rows and a job for a root not listed, or an unusable item; true for
  // rows.
  bool ListArrived(const std::string& root);
  // Lists the root as unusable, or updates its item.
  void ShowUnusable(const std::string& root, const std::string& why);
  void DropUnusable(const std::string& root);
  // The identity lines of a root's volume.
  QString Describe(const std::string& root);
  void Refuse(const std::string& root, const std::string& why);

  ManualPage& Page;
  QTreeWidget* ManualList;
  QTreeWidget* ScheduleList;
  JobServices Services;
  std::vector<Row> Rows;
  std::vector<Unusable> Unusables; // their items follow the rows'
  std::vector<std::unique_ptr<TDefragThread>> Retired;
  std::vector<std::string> RefusalLines;
};

} // namespace quillo
