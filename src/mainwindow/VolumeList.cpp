// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/VolumeList.h"

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

bool VolumeList::Probe(const std::string& root, Candidate& out) {
  std::string why;
  std::shared_ptr<VolumeDevice> device = Services.Catalog.OpenDevice(VolumeNameOf(root), why);
  if (!device) {
    Refuse(root, why.empty() ? "cannot be opened" : why);
    return false;
  }
  VolumeInformation information;
  if (!device->GetVolumeInformation(root, kFileSystemNameCapacity, information)) {
    Refuse(root, "volume information cannot be read");
    return false;
  }
  DiskFreeSpace space;
  if (!device->GetFreeSpace(root, space)) {
    Refuse(root, "size cannot be read");
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

  {
    const QSignalBlocker blocker(ManualList);
    QTreeWidgetItem* item =
        NewCheckedRow({root, QString::fromLatin1(kInitialStatus), fileSystem, capacity, QString()}, other);
    ManualList->addTopLevelItem(item);
    ManualPage::SetTicked(item, false);
  }
  {
    const QSignalBlocker blocker(ScheduleList);
    QTreeWidgetItem* item = NewCheckedRow({root, fileSystem, capacity, QString()}, other);
    ScheduleList->addTopLevelItem(item);
    item->setCheckState(0, Qt::Unchecked);
  }
  Rows.push_back({candidate.Root, candidate.Device, nullptr, nullptr, candidate.HoldsWindows, {}});
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

bool VolumeList::AttachJob(Row& row) {
  try {
    row.Job = std::make_unique<TDefragThread>(VolumeNameOf(row.Root), row.Device,
                                              Services.Engine, Services.Engines, Services.Options);
  } catch (const std::exception& error) {
    std::string text = error.what();
    Refuse(row.Root, text == kUnsupportedError ? "unsupported file system" : text);
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
  RefusalLines.clear();
  for (const std::string& root : Services.Catalog.LogicalDriveStrings()) {
    if (Services.Catalog.DriveType(root) != kDriveFixed) {
      Refuse(root, "is not a fixed disk");
      continue;
    }
    Candidate candidate;
    if (Probe(root, candidate)) AddRows(candidate);
  }
}

void VolumeList::CreateJobs() {
  for (size_t i = 0; i < Rows.size();) {
    if (AttachJob(Rows[i]))
      ++i;
    else
      RemoveRow(i); // the next row moves into its place
  }
}

void VolumeList::AddArrivedVolumes() {
  for (const std::string& root : Services.Catalog.LogicalDriveStrings()) {
    if (Services.Catalog.DriveType(root) != kDriveFixed) continue;
    bool listed = std::any_of(Rows.begin(), Rows.end(),
                              [&](const Row& row) { return SameLetter(row.Root, root); });
    if (listed) continue;
    Candidate candidate;
    if (!Probe(root, candidate)) continue;
    Row row{candidate.Root, candidate.Device, nullptr, nullptr, false, {}};
    if (!AttachJob(row)) continue;
    row.Job->Engine().ReleaseWhileIdle = true;
    AddRows(candidate);
    Rows.back().Job = std::move(row.Job);
    Rows.back().View = std::move(row.View);
    Rows.back().Device.reset();
  }
}

bool VolumeList::RemoveDepartedVolumes(int32_t& currentIndex) {
  std::vector<std::string> roots;
  for (const std::string& root : Services.Catalog.LogicalDriveStrings())
    if (Services.Catalog.DriveType(root) == kDriveFixed) roots.push_back(root);
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
