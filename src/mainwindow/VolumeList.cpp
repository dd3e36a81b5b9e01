// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/VolumeList.h"

#include <utility>

#include <QLocale>

#include <algorithm>
#include <cctype>
#include <exception>
#include <string_view>

#include "mainwindow/LiveJobs.h"
#include "mainwindow/ManualPage.h"
#include "mainwindow/StatusTexts.h"
#include "mainwindow/WindowDispatcher.h"

namespace quillo {

namespace {

// The file-system name is read into a buffer of this many characters.
constexpr size_t kFileSystemNameCapacity = 255;
constexpr const char* kInitialStatus = "Idle";
constexpr const char* kUnsupportedError = "CreateDefragThreadError";
// The directory that marks the Windows system volume, at the root.
constexpr const char* kWindowsDirectory = "Windows";
constexpr const char* kAllEntries = "*.*";

// Columns of the manual list and of the schedule list.
enum ManualColumn : int { kManualVolume = 0, kManualStatus, kManualFileSystem, kManualCapacity, kManualTime };
enum ScheduleColumn : int { kScheduleVolume = 0, kScheduleFileSystem, kScheduleSize, kScheduleMethod };

std::string VolumeNameOf(const std::string& root) { return root.substr(0, 2); }

bool SameLetter(const std::string& a, const std::string& b) {
  return !a.empty() && !b.empty() && a.front() == b.front();
}

// The root listing is searched rather than the path opened: Windows names
// the directory "Windows" or "WINDOWS", and not every file system here
// looks names up without regard to case.
bool HoldsWindowsDirectory(VolumeDevice& device, const std::string& root) {
  std::vector<DirectoryEntry> entries;
  if (!device.ListDirectory(root + kAllEntries, entries)) return false;
  const std::string_view wanted = kWindowsDirectory;
  for (const DirectoryEntry& entry : entries) {
    if (!(entry.FileAttributes & kFileAttributeDirectory) || entry.Name.size() != wanted.size())
      continue;
    bool same = true;
    for (size_t i = 0; i < wanted.size() && same; ++i) {
      char16_t c = entry.Name[i];
      same = c < 0x80 && std::tolower(int(c)) == std::tolower(int(wanted[i]));
    }
    if (same) return true;
  }
  return false;
}

QString JoinLines(const QString& first, const QString& second) {
  if (first.isEmpty()) return second;
  if (second.isEmpty()) return first;
  return first + QLatin1Char('\n') + second;
}

void SetToolTip(QTreeWidgetItem* item, const QString& text) {
  for (int column = 0; column < item->columnCount(); ++column) item->setToolTip(column, text);
}

QTreeWidgetItem* NewCheckedRow(const QStringList& texts, const QIcon& icon) {
  auto* item = new QTreeWidgetItem(texts);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setIcon(0, icon);
  return item;
}

} // namespace

VolumeList::VolumeList(ManualPage& page, QTreeWidget* scheduleList, const JobServices& services)
    : Page(page), ManualList(page.manulist), ScheduleList(scheduleList), Services(services) {}

VolumeList::~VolumeList() {
  // Shutdown() left nothing that waits for the window thread.
  Rows.clear();
  Retired.clear();
}

char VolumeList::Letter(int row) const {
  const std::string& root = Rows[size_t(row)].Root;
  return root.empty() ? '\0' : root.front();
}

QTreeWidgetItem* VolumeList::Item(int row) const { return ManualList->topLevelItem(row); }

bool VolumeList::TakeUnreportedDeath(int row) {
  Row& entry = Rows[size_t(row)];
  if (entry.DeathReported || !entry.Job->IsDead()) return false;
  entry.DeathReported = true;
  return true;
}

void VolumeList::NoteStarter(const TDefragThread& job, bool byUser) {
  for (Row& entry : Rows)
    if (entry.Job.get() == &job) entry.StartedByUser = byUser;
}

bool VolumeList::TakeStartedByUser(int row) {
  return std::exchange(Rows[size_t(row)].StartedByUser, false);
}

bool VolumeList::IsTicked(int row) const { return Item(row)->checkState(0) == Qt::Checked; }

std::vector<TDefragThread*> VolumeList::TickedJobs() const {
  std::vector<TDefragThread*> jobs;
  for (int i = 0; i < Count(); ++i)
    if (IsTicked(i)) jobs.push_back(Rows[size_t(i)].Job.get());
  return jobs;
}

std::vector<TDefragThread*> VolumeList::Jobs() const {
  std::vector<TDefragThread*> jobs;
  for (const Row& row : Rows) jobs.push_back(row.Job.get());
  return jobs;
}

std::vector<ListedVolume> VolumeList::ListedVolumes() const {
  std::vector<ListedVolume> volumes;
  for (int i = 0; i < Count(); ++i) volumes.push_back({Letter(i), Rows[size_t(i)].HoldsWindows});
  return volumes;
}

void VolumeList::Refuse(const std::string& root, const std::string& why) {
  RefusalLines.push_back(root + " " + why);
}

QString VolumeList::Describe(const std::string& root) {
  VolumeCatalog::Description description = Services.Catalog.Describe(root);
  QString lines = QString::fromStdString(description.Location);
  if (!description.Label.empty())
    lines = JoinLines(lines, QStringLiteral("Label: ") + QString::fromStdString(description.Label));
  if (!description.Model.empty())
    lines = JoinLines(lines, QStringLiteral("Drive: ") + QString::fromStdString(description.Model));
  return lines;
}

int VolumeList::WaitingCount() const {
  return int(std::count_if(Unusables.begin(), Unusables.end(),
                           [](const Unusable& unusable) { return unusable.Passing; }));
}

void VolumeList::ShowUnusable(const std::string& root, const std::string& why) {
  VolumeCatalog::Refusal refusal = Services.Catalog.BriefRefusal(root, why);
  QString brief = QString::fromStdString(refusal.Brief);
  QString tip = JoinLines(Describe(root), QString::fromStdString(why));
  const QSignalBlocker blocker(ManualList);
  auto found = std::find_if(Unusables.begin(), Unusables.end(),
                            [&](const Unusable& unusable) { return SameLetter(unusable.Root, root); });
  QTreeWidgetItem* item = nullptr;
  if (found != Unusables.end()) {
    found->Passing = refusal.Passing;
    item = ManualList->topLevelItem(int(Rows.size() + size_t(found - Unusables.begin())));
  } else {
    // What is known of it without reading it (a partition of another file
    // system): its file system and its size.
    VolumeCatalog::Description known = Services.Catalog.Describe(root);
    QString capacity = known.SizeBytes == 0
                           ? QString()
                           : QString::fromStdString(CapacityText(
                                 known.SizeBytes, QLocale().decimalPoint().toStdString()));
    item = new QTreeWidgetItem({QString::fromStdString(root), brief,
                                QString::fromStdString(known.FileSystem), capacity, QString()});
    // Shown, never ticked or made current.
    item->setFlags(Qt::NoItemFlags);
    item->setIcon(0, Page.VolumeImage(ManualPage::kOtherVolumeImage));
    // In letter order among themselves.
    auto before = std::find_if(Unusables.begin(), Unusables.end(),
                               [&](const Unusable& unusable) { return unusable.Root > root; });
    ManualList->insertTopLevelItem(int(Rows.size() + size_t(before - Unusables.begin())), item);
    Unusables.insert(before, {root, refusal.Passing});
  }
  if (item->text(kManualStatus) != brief) item->setText(kManualStatus, brief);
  if (item->toolTip(kManualVolume) != tip) SetToolTip(item, tip);
}

void VolumeList::DropUnusable(const std::string& root) {
  auto found = std::find_if(Unusables.begin(), Unusables.end(),
                            [&](const Unusable& unusable) { return SameLetter(unusable.Root, root); });
  if (found == Unusables.end()) return;
  const QSignalBlocker blocker(ManualList);
  delete ManualList->takeTopLevelItem(int(Rows.size() + size_t(found - Unusables.begin())));
  Unusables.erase(found);
}

bool VolumeList::Probe(const std::string& root, Candidate& out, std::string& why) {
  std::shared_ptr<VolumeDevice> device = Services.Catalog.OpenDevice(VolumeNameOf(root), why);
  if (!device) {
    if (why.empty()) why = "cannot be opened";
    return false;
  }
  VolumeInformation information;
  if (!device->GetVolumeInformation(root, kFileSystemNameCapacity, information)) {
    why = "volume information cannot be read";
    return false;
  }
  DiskFreeSpace space;
  if (!device->GetFreeSpace(root, space)) {
    why = "size cannot be read";
    return false;
  }
  // Looked at once, read-only, before any job works on the volume.
  bool holdsWindows = HoldsWindowsDirectory(*device, root);
  out = {root, information.FileSystemName, space.TotalNumberOfBytes, std::move(device), holdsWindows};
  return true;
}

void VolumeList::AddRows(const Candidate& candidate) {
  QString root = QString::fromStdString(candidate.Root);
  QString fileSystem = QString::fromStdString(candidate.FileSystem);
  QString capacity = QString::fromStdString(
      CapacityText(candidate.TotalBytes, QLocale().decimalPoint().toStdString()));
  QIcon other = Page.VolumeImage(ManualPage::kOtherVolumeImage);
  QString identity = Describe(candidate.Root);

  {
    const QSignalBlocker blocker(ManualList);
    QTreeWidgetItem* item =
        NewCheckedRow({root, QString::fromLatin1(kInitialStatus), fileSystem, capacity, QString()}, other);
    // Before the unusable volumes' items.
    ManualList->insertTopLevelItem(int(Rows.size()), item);
    ManualPage::SetTicked(item, false);
    SetToolTip(item, identity);
  }
  {
    const QSignalBlocker blocker(ScheduleList);
    QTreeWidgetItem* item = NewCheckedRow({root, fileSystem, capacity, QString()}, other);
    ScheduleList->addTopLevelItem(item);
    item->setCheckState(0, Qt::Unchecked);
  }
  Rows.push_back(
      {candidate.Root, candidate.Device, nullptr, nullptr, candidate.HoldsWindows, {}, false, identity});
}

void VolumeList::RemoveRow(size_t index) {
  {
    const QSignalBlocker blocker(ManualList);
    delete ManualList->takeTopLevelItem(int(index));
  }
  {
    const QSignalBlocker blocker(ScheduleList);
    delete ScheduleList->takeTopLevelItem(int(index));
  }
  Rows.erase(Rows.begin() + std::ptrdiff_t(index));
}

bool VolumeList::AttachJob(Row& row, std::string& why) {
  // The volume is held only while a command works on it, so that the
  // desktop or another program may mount or open it meanwhile.
  DefragThreadOptions options = Services.Options;
  options.ReleaseWhileIdle = true;
  try {
    row.Job = std::make_unique<TDefragThread>(VolumeNameOf(row.Root), row.Device,
                                              Services.Engine, Services.Engines, options);
  } catch (const std::exception& error) {
    std::string text = error.what();
    why = text == kUnsupportedError ? "unsupported file system" : text;
    row.Device.reset();
    return false;
  }
  row.Device.reset();
  // The map's picture sits inside the bevel, its caption over the gauge.
  QRect bevel = Page.DiskBevel->geometry();
  QRect gauge = Page.Guage_Progress->geometry();
  const int captionDrop = 6;
  row.View = std::make_unique<VolumeMapView>(
      *row.Job->Engine().Map, &Page,
      QRect(bevel.left() + 1, bevel.top() + 1, TDefragMap::kMapWidth, TDefragMap::kMapHeight),
      QRect(gauge.left(), gauge.top() + captionDrop, gauge.width(), gauge.height()));
  return true;
}

void VolumeList::ListVolumes() {
  {
    const QSignalBlocker manual(ManualList);
    const QSignalBlocker schedule(ScheduleList);
    ManualList->clear();
    ScheduleList->clear();
  }
  Rows.clear();
  Unusables.clear();
  RefusalLines.clear();
  for (const std::string& root : Services.Catalog.LogicalDriveStrings()) {
    if (Services.Catalog.DriveType(root) != kDriveFixed) {
      Refuse(root, "is not a fixed disk");
      continue;
    }
    Candidate candidate;
    std::string why;
    if (Probe(root, candidate, why)) {
      AddRows(candidate);
    } else {
      Refuse(root, why);
      ShowUnusable(root, why);
    }
  }
}

void VolumeList::CreateJobs() {
  for (size_t i = 0; i < Rows.size();) {
    std::string why;
    if (AttachJob(Rows[i], why)) {
      ++i;
      continue;
    }
    std::string root = Rows[i].Root;
    RemoveRow(i); // the next row moves into its place
    Refuse(root, why);
    ShowUnusable(root, why);
  }
}

bool VolumeList::ListArrived(const std::string& root) {
  Candidate candidate;
  std::string why;
  if (!Probe(root, candidate, why)) {
    ShowUnusable(root, why);
    return false;
  }
  Row row{candidate.Root, candidate.Device, nullptr, nullptr, false, {}};
  if (!AttachJob(row, why)) {
    ShowUnusable(root, why);
    return false;
  }
  DropUnusable(root);
  AddRows(candidate);
  Rows.back().Job = std::move(row.Job);
  Rows.back().View = std::move(row.View);
  Rows.back().Device.reset();
  return true;
}

void VolumeList::AddArrivedVolumes() {
  for (const std::string& root : Services.Catalog.LogicalDriveStrings()) {
    if (Services.Catalog.DriveType(root) != kDriveFixed) continue;
    bool listed = std::any_of(Rows.begin(), Rows.end(),
                              [&](const Row& row) { return SameLetter(row.Root, root); });
    if (!listed) ListArrived(root);
  }
}

bool VolumeList::ReprobeWaitingVolumes() {
  std::vector<std::string> waiting;
  for (const Unusable& unusable : Unusables)
    if (unusable.Passing) waiting.push_back(unusable.Root);
  bool added = false;
  for (const std::string& root : waiting)
    if (ListArrived(root)) added = true;
  return added;
}

bool VolumeList::RemoveDepartedVolumes(int32_t& currentIndex) {
  std::vector<std::string> roots;
  for (const std::string& root : Services.Catalog.LogicalDriveStrings())
    if (Services.Catalog.DriveType(root) == kDriveFixed) roots.push_back(root);
  for (size_t i = Unusables.size(); i-- > 0;) {
    std::string root = Unusables[i].Root;
    bool present = std::any_of(roots.begin(), roots.end(),
                               [&](const std::string& other) { return SameLetter(root, other); });
    if (!present) DropUnusable(root);
  }
  bool currentRemoved = false;
  for (size_t i = Rows.size(); i-- > 0;) {
    bool present = std::any_of(roots.begin(), roots.end(),
                               [&](const std::string& root) { return SameLetter(Rows[i].Root, root); });
    if (present) continue;
    Row& row = Rows[i];
    // A job that died stops nothing; it is retired all the same.
    if (IsLive(*row.Job)) {
      try {
        row.Job->StopDeal();
      } catch (const std::exception&) {
        // It died since it was asked.
      }
    }
    row.View.reset();
    Retired.push_back(std::move(row.Job));
    if (int32_t(i) == currentIndex) currentRemoved = true;
    if (int32_t(i) < currentIndex) --currentIndex;
    RemoveRow(i);
  }
  return currentRemoved;
}

size_t VolumeList::ReleaseRetiredJobs() {
  // Only a parked or dead job is ended here: its thread has nothing left to
  // hand over, so joining it cannot wait for this thread.
  return std::erase_if(Retired, [](const std::unique_ptr<TDefragThread>& job) {
    return job->IsParked() || job->IsDead();
  });
}

void VolumeList::Shutdown(WindowDispatcher& dispatcher) {
  for (Row& row : Rows) {
    // A dead job has nothing to stop.
    if (!row.Job || !IsLive(*row.Job)) continue;
    try {
      row.Job->StopDeal();
    } catch (const std::exception&) {
      // It died since it was asked.
    }
  }
  for (Row& row : Rows) row.View.reset();
  dispatcher.Close();
  Retired.clear();
  for (Row& row : Rows) row.Job.reset();
}

} // namespace quillo
