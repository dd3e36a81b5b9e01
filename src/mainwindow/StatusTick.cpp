// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/StatusTick.h"

#include <QCoreApplication>

#include <optional>

#include "mainwindow/LiveJobs.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/ProgramIdentity.h"
#include "mainwindow/StatusTexts.h"
#include "settings/MessageText.h"

namespace quillo {

namespace {

enum ManualColumn : int { kStatusColumn = 1, kTimeColumn = 4 };
// The mains line status that means "on battery"; every other value (online,
// unknown) leaves the jobs alone.
constexpr uint8_t kAcLineOffline = 0;
constexpr uint32_t kProgressMaximum = 100;
constexpr const char* kAwaitingAuthorisationTip =
    "Opening it needs authorization, which Analyze or GO asks for";

void Write(QTreeWidgetItem* item, int column, const CellUpdate& update) {
  if (update.How == CellUpdate::Write::Keep) return;
  QString text = QString::fromStdString(update.Text);
  if (update.How == CellUpdate::Write::WhenChanged && item->text(column) == text) return;
  item->setText(column, text);
}

void WriteWhenChanged(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

} // namespace

void StatusTick::Run() {
  VolumeList& volumes = Form.Volumes();
  for (int i = 0; i < volumes.Count(); ++i) ShowRow(i);
  for (int i = 0; i < volumes.Count(); ++i) TellDeath(i);
  if (Form.Settings->EnableQuilloDefrag) Form.AutoDefragStep();
  GuardBattery();
  AnimateTray();
  ShowProgress();
  // A report opened here runs its own event loop, in which further ticks
  // may change the rows; the count is read again each time round.
  for (int i = 0; i < volumes.Count(); ++i) TakeCompletion(i);
  Form.MountFinishedVolumes();
  ShowAutoPageLabels();
  // A volume that left and came back while its old job still held it is
  // listed once that job has let it go.
  if (volumes.ReleaseRetiredJobs() > 0) Form.RefreshVolumes();
  // One that was busy or mounted is looked at again now and then, as no
  // notice comes when another program lets it go.
  if (volumes.WaitingCount() > 0 && ++TicksSinceReprobe >= kReprobeTicks) {
    TicksSinceReprobe = 0;
    Form.ReprobeVolumes();
  }
}

void StatusTick::ShowRow(int row) {
  VolumeList& volumes = Form.Volumes();
  TDefragThread& job = volumes.Job(row);
  TLanguage& language = Form.Language();
  QTreeWidgetItem* item = volumes.Item(row);
  bool dead = !IsLive(job);
  // A dead job keeps the running state it died in; it is shown at rest.
  uint8_t state = dead ? uint8_t(dsIdle) : job.State();
  uint32_t percent = job.Engine().Map->GetProgressBar() * 100 / kProgressMaximum;
  CellUpdate status = StatusColumnText(state, job.Command(), job.Mode(), percent, language);
  const WriteVerdict& verdict = volumes.PassVerdict(row);
  bool notDone = state == dsDefragged && verdict.Result != WriteVerdict::Kind::Sound;
  if (notDone)
    status = {CellUpdate::Write::WhenChanged,
              language.Lookup(verdict.Result == WriteVerdict::Kind::Refused ? messages::kRefused
                                                                           : messages::kWriteFailed)};
  // The last command found the volume busy (or mounted, or gone) and was
  // dropped; the next one tries again.
  std::string refusal = dead ? std::string() : job.OpenRefusal();
  bool refused = !refusal.empty() && IsAtRest(state);
  // A run nobody attended skipped it: opening it needed a prompt.
  bool skipped = refused && job.SkippedUnattended();
  if (refused)
    status = {CellUpdate::Write::WhenChanged,
              language.Lookup(skipped ? messages::kSkipped : messages::kInUse)};
  // Never opened yet: only the user's authorisation opens it (the list
  // asks nobody), and the user's Analyze or GO asks for it.
  bool awaiting = !dead && !skipped && IsAtRest(state) && job.AwaitsAuthorisation();
  if (awaiting)
    status = {CellUpdate::Write::WhenChanged, language.Lookup(messages::kNeedsAuthorization)};
  // Mounted while no command works on it: a command asks to unmount it.
  std::string mountPoint = dead || !IsAtRest(state)
                               ? std::string()
                               : Form.Services().Catalog->MountPoint(item->text(0).toStdString());
  if (!mountPoint.empty()) status = {CellUpdate::Write::WhenChanged, language.Lookup(messages::kMounted)};
  std::string error = dead ? job.ErrorText() : std::string();
  if (dead) status = DeadJobStatusText(error, language);
  Write(item, kStatusColumn, status);
  QString why = dead      ? QString::fromStdString(error)
                : !mountPoint.empty() ? QStringLiteral("Mounted at ") + QString::fromStdString(mountPoint)
                : refused ? QString::fromStdString(refusal)
                : awaiting ? QString::fromLatin1(kAwaitingAuthorisationTip)
                : notDone ? QString::fromStdString(verdict.Reason)
                          : QString();
  // Where the volume lies comes first; the reason for its status after it.
  const QString& identity = volumes.Identity(row);
  QString tip = identity.isEmpty() ? why
                : why.isEmpty()    ? identity
                                   : identity + QLatin1Char('\n') + why;
  if (item->toolTip(kStatusColumn) != tip)
    for (int column = 0; column < item->columnCount(); ++column) item->setToolTip(column, tip);

  int letter = TSetting::DriveIndex(volumes.Letter(row));
  TDateTime lastDefrag = letter >= 0 ? Form.Settings->LastDefragTime[size_t(letter)] : 0;
  std::string remaining = state == dsDefragging ? job.Engine().Report->RemainingTime() : "";
  Write(item, kTimeColumn, TimeColumnText(state, lastDefrag, remaining, language));

  if (row == Form.CurrentVolumeIndex) {
    UpdateManualButtons();
    volumes.Map(row).SetShown(true);
    ShowCurrentVolume(job);
  } else {
    volumes.Map(row).SetShown(false);
  }
}

void StatusTick::ShowCurrentVolume(TDefragThread& job) {
  ManualPage& page = *Form.manualdefrag;
  page.Guage_Progress->setValue(int(job.Engine().Map->GetProgressBar()));
  QString total = QStringLiteral("0");
  QString fragmented = QStringLiteral("0");
  if (job.State() != dsIdle) {
    const TDefragReport& report = *job.Engine().Report;
    total = QString::number(int64_t(report.FileCount) + report.DirCount);
    fragmented = QString::number(int64_t(report.FragmentedFileCount) + report.FragmentedDirCount -
                                 report.DefraggedFileCount - report.DefraggedDirCount);
  }
  if (page.TotalFilesDirs->text() != total || page.FragmentedFilesDir->text() != fragmented) {
    page.TotalFilesDirs->setText(total);
    page.FragmentedFilesDir->setText(fragmented);
  }
  // The window keeps its size whatever asked it to change: the design size,
  // or what the screen leaves of it.
  Form.Fit->KeepSize();
}

void StatusTick::UpdateManualButtons() {
  VolumeList& volumes = Form.Volumes();
  std::vector<uint8_t> ticked;
  // A dead job takes no command: the layout is the living ones'.
  for (TDefragThread* job : LiveJobs(volumes.TickedJobs())) ticked.push_back(job->State());
  Form.manualdefrag->ApplyLayout(DecideManualLayout(ticked));
}

void StatusTick::GuardBattery() {
  if (!Form.Settings->StopWhenBattary || !Form.Services().AcLineStatus) return;
  if (Form.Services().AcLineStatus() != kAcLineOffline) return;
  for (TDefragThread* job : Form.Volumes().Jobs())
    if (IsLiveAndRunning(*job)) job->StopDeal();
}

bool StatusTick::AnyJobRunning() {
  for (TDefragThread* job : Form.Volumes().Jobs())
    if (IsLiveAndRunning(*job)) return true;
  return false;
}

void StatusTick::ShowProgress() {
  int sum = 0;
  int running = 0;
  for (TDefragThread* job : Form.Volumes().Jobs()) {
    if (!IsLiveAndRunning(*job)) continue;
    sum += int(job->Engine().Map->GetProgressBar() * 100 / kProgressMaximum);
    ++running;
  }
  std::optional<int> percent;
  if (running > 0) percent = sum / running;
  const std::string title = Form.Language().Lookup("MainForm", "MainForm.Caption", kProgramName);
  Form.Progress->Show(percent, QString::fromStdString(title));
}

void StatusTick::TellDeath(int row) {
  VolumeList& volumes = Form.Volumes();
  if (!volumes.TakeUnreportedDeath(row)) return;
  std::string text = std::string(1, volumes.Letter(row)) + ": " +
                     DeadJobStatusText(volumes.Job(row).ErrorText(), Form.Language()).Text;
  Form.ShowPlainMessageLater(text);
}

void StatusTick::AnimateTray() {
  TrayIcon& tray = *Form.Tray;
  if (AnyJobRunning()) {
    tray.FrameTag = (tray.FrameTag + 1) % TrayIcon::kBusyFrames;
    tray.ShowIcon(tray.FrameTag);
  } else {
    tray.FrameTag = -1;
    tray.ShowIcon(TrayIcon::kRestingIcon);
  }
}

void StatusTick::OpenReportFor(int row) {
  Form.CurrentVolumeIndex = row;
  Form.manualdefrag->ViewReportBtnClick();
}

void StatusTick::TakeCompletion(int row) {
  VolumeList& volumes = Form.Volumes();
  TDefragThread& job = volumes.Job(row);
  TSetting& settings = *Form.Settings;
  int letter = TSetting::DriveIndex(volumes.Letter(row));
  bool powerOff = Form.manualdefrag->CheckBox_auto_shutdown->isChecked();
  uint8_t notice = job.PopNotify();
  // The device says whether the pass's writes were made: a refused or failed
  // pass stores no time of defragmentation.
  bool written = true;
  if (notice == ncDefragged || notice == ncAutoDefragged) {
    volumes.SetPassVerdict(row, job.Engine().Device().GetWriteVerdict());
    written = volumes.PassVerdict(row).Result == WriteVerdict::Kind::Sound;
  }
  // Told before a report or the countdown opens, which may hold the tick.
  if ((notice == ncAnalyzed || notice == ncDefragged) && volumes.TakeStartedByUser(row) &&
      Form.OutOfSight())
    TellFinishedRun(row, notice, written);
  switch (notice) {
  case ncDefragged: {
    TDateTime now = Form.SystemClock().Now();
    if (letter >= 0 && written) {
      if (job.Mode() == dmOptimize) settings.LastOptimizeTime[size_t(letter)] = now;
      settings.LastDefragTime[size_t(letter)] = now;
    }
    settings.Save();
    if (powerOff && !AnyJobRunning()) {
      Form.Timer_GetDefragRuntimeData->stop();
      QCoreApplication::processEvents();
      Form.ShowPowerOffWindow();
      Form.Timer_GetDefragRuntimeData->start();
      QCoreApplication::processEvents();
    }
    if (!AnyJobRunning() && !Form.ReportWindowVisible() && Form.isVisible() &&
        !Form.manualdefrag->CheckBox_auto_shutdown->isChecked())
      OpenReportFor(row);
    break;
  }
  case ncAutoDefragged: {
    if (!written) break;
    TDateTime now = Form.SystemClock().Now();
    if (letter >= 0) settings.LastDefragTime[size_t(letter)] = now;
    settings.LastAutoDefrag = now;
    settings.Save();
    const TDefragReport& report = *job.Engine().Report;
    Form.AutoDefragFileCount += report.DefraggedFileCount + report.DefraggedDirCount;
    break;
  }
  case ncAnalyzed:
    if (!AnyJobRunning() && !Form.ReportWindowVisible() && !powerOff) OpenReportFor(row);
    break;
  default:
    break;
  }
}

void StatusTick::TellFinishedRun(int row, uint8_t notice, bool written) {
  VolumeList& volumes = Form.Volumes();
  TDefragThread& job = volumes.Job(row);
  TLanguage& language = Form.Language();
  const TDefragReport& report = *job.Engine().Report;
  const std::string volume = std::string(1, volumes.Letter(row)) + ":";
  const MessageText& title = notice == ncAnalyzed     ? messages::kFinishedAnalysis
                             : !written               ? messages::kFinishedNotDone
                             : job.Mode() == dmFast   ? messages::kFinishedDefrag
                                                      : messages::kFinishedOptimize;
  std::string body;
  if (notice == ncAnalyzed) {
    body = FormatWithInteger(
        FormatWithInteger(language.Lookup(messages::kFinishedCounts),
                          int64_t(report.FileCount) + report.DirCount),
        int64_t(report.FragmentedFileCount) + report.FragmentedDirCount);
  } else if (written) {
    body = FormatWithInteger(language.Lookup(messages::kFinishedDefragged),
                             int64_t(report.DefraggedFileCount) + report.DefraggedDirCount);
  } else {
    // The device's own words on why the pass was not made.
    body = volumes.PassVerdict(row).Reason;
  }
  Form.Notices->Notify(QString::fromStdString(FormatWithText(language.Lookup(title), volume)),
                       QString::fromStdString(body));
}

void StatusTick::ShowAutoPageLabels() {
  AutoDefragPage& page = *Form.autodefrag;
  TLanguage& language = Form.Language();
  WriteWhenChanged(page.Label_AutoDefrag_Count,
                   QString::fromStdString(AutoDefragCountText(Form.AutoDefragFileCount, language)));
  WriteWhenChanged(page.Label_LastAutoDefrag, QString::fromStdString(LastAutoDefragText(
                                                  Form.Settings->LastAutoDefrag, language)));
  page.ShowSystemVolumeNotice(Form.SystemVolumeRow() < 0);
}

} // namespace quillo
