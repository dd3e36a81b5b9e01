// SPDX-License-Identifier: GPL-2.0-or-later
#include "WindowTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace quillo::test {

namespace {
constexpr auto kPatience = std::chrono::seconds(60);
constexpr uint32_t kExtentClusters = 8;
} // namespace

void TestCatalog::Add(const std::string& root, std::shared_ptr<VolumeDevice> device,
                      uint32_t driveType) {
  Entries[root] = {std::move(device), driveType, ""};
}

void TestCatalog::Refuse(const std::string& root, const std::string& why) {
  Entries[root] = {nullptr, kDriveFixed, why};
}

void TestCatalog::Remove(const std::string& root) { Entries.erase(root); }

std::vector<std::string> TestCatalog::LogicalDriveStrings() {
  std::vector<std::string> roots;
  for (const auto& [root, entry] : Entries) roots.push_back(root);
  return roots;
}

uint32_t TestCatalog::DriveType(const std::string& root) {
  auto found = Entries.find(root);
  return found == Entries.end() ? kDriveNoRootDir : found->second.Type;
}

std::shared_ptr<VolumeDevice> TestCatalog::OpenDevice(const std::string& volumeName,
                                                      std::string& why) {
  auto found = Entries.find(volumeName + "\\");
  if (found == Entries.end()) {
    why = "not in the drive table";
    return nullptr;
  }
  why = found->second.Refusal;
  return found->second.Device;
}

void RecordingReports::ShowModalOver(TMainForm& form) {
  ++Openings;
  CurrentRows.push_back(form.CurrentVolumeIndex);
  std::vector<uint8_t> states;
  std::vector<std::vector<FILE_INFO>> entries;
  for (TDefragThread* job : form.TickedJobs()) {
    states.push_back(job->State());
    entries.push_back(job->Engine().Report->Entries());
  }
  States.push_back(states);
  Entries.push_back(entries);
  Visible = true;
  if (WhileOpen) WhileOpen(form);
  Visible = false;
}

std::shared_ptr<MemoryVolume> MakeWindowVolume(const std::string& volumeName,
                                               const std::string& fileSystem, int fragmented) {
  return MakeFragmentedVolume(fragmented, kExtentClusters, fileSystem, volumeName);
}

bool AllFilesContiguous(const MemoryVolume& volume) {
  for (uint32_t i = 0; i < volume.FileCount(); ++i) {
    const MemoryFile& file = volume.File(i);
    if (!file.InUse || file.Directory) continue;
    int extents = 0;
    int64_t end = -1;
    for (const MemoryRun& run : file.Runs) {
      if (run.Lcn < 0) continue;
      if (run.Lcn != end) ++extents;
      end = run.Lcn + run.Length;
    }
    if (extents > 1) return false;
  }
  return true;
}

FormRig::FormRig() {
  // Fresh settings: the defaults, written by the window at start.
  EditSettings([](TSetting&) {});
}

void FormRig::EditSettings(const std::function<void(TSetting&)>& change) {
  TSetting settings(SettingsFile(), SourceDir() / "language");
  settings.Load();
  change(settings);
  settings.Save();
}

std::unique_ptr<TSetting> FormRig::StoredSettings() const {
  auto settings = std::make_unique<TSetting>(SettingsFile(), SourceDir() / "language");
  settings->Load();
  return settings;
}

FormServices FormRig::Services() {
  FormServices services;
  services.Catalog = &Catalog;
  services.SystemClock = &TestClock;
  services.Activity = &Activity;
  services.Engines = Engines;
  services.JobOptions.IdlePriority = false;
  services.AcLineStatus = [this] { return LineStatus; };
  services.Messages = &Messages;
  services.Reports = &Reports;
  services.PowerOff = &PowerOff;
  services.SettingsFile = SettingsFileOverride.empty() ? SettingsFile() : SettingsFileOverride;
  services.LanguageFolder = SourceDir() / "language";
  services.Arguments = Arguments;
  services.DesktopBus = DesktopBus;
  return services;
}

std::unique_ptr<TMainForm> FormRig::Create() { return std::make_unique<TMainForm>(Services()); }

bool PumpUntil(const std::function<bool()>& condition) {
  if (condition()) return true;
  // A loop of its own wakes at once for the jobs' hand-overs; the timer
  // looks at the condition in between.
  QEventLoop loop;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (condition()) loop.quit();
  });
  look.start(1);
  QTimer patience;
  patience.setSingleShot(true);
  QObject::connect(&patience, &QTimer::timeout, &loop, &QEventLoop::quit);
  patience.start(kPatience);
  loop.exec();
  return condition();
}

void PumpPending() {
  for (int i = 0; i < 2; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

std::vector<std::string> RowTexts(QTreeWidget* list, int row) {
  std::vector<std::string> texts;
  QTreeWidgetItem* item = list->topLevelItem(row);
  for (int column = 0; column < list->columnCount(); ++column)
    texts.push_back(item->text(column).toStdString());
  return texts;
}

} // namespace quillo::test
