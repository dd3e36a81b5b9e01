// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers of the window tests: a drive list of in-memory volumes, a report
// window and a power-off window that only count, and a rig that builds the
// main window on them with its settings in a temporary folder.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "JobTestSupport.h"
#include "TestSupport.h"
#include "engine/MemoryVolume.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/VolumeCatalog.h"

namespace quillo::test {

class TestCatalog final : public VolumeCatalog {
public:
  // `root` is "C:\".
  void Add(const std::string& root, std::shared_ptr<VolumeDevice> device,
           uint32_t driveType = kDriveFixed);
  // Listed, but refused with a reason when opened.
  void Refuse(const std::string& root, const std::string& why);
  void Remove(const std::string& root);

  std::vector<std::string> LogicalDriveStrings() override;
  uint32_t DriveType(const std::string& root) override;
  std::shared_ptr<VolumeDevice> OpenDevice(const std::string& volumeName, std::string& why) override;

private:
  struct Entry {
    std::shared_ptr<VolumeDevice> Device;
    uint32_t Type = kDriveFixed;
    std::string Refusal;
  };
  std::map<std::string, Entry> Entries; // by root, so in letter order
};

// Counts the openings of the report window and what they would show.
class RecordingReports final : public ReportWindowHost {
public:
  void ShowModalOver(TMainForm& form) override;
  bool IsVisible() const override { return Visible; }

  int Openings = 0;
  bool Visible = false;
  // Per opening: the current row and the ticked volumes' states and entries.
  std::vector<int> CurrentRows;
  std::vector<std::vector<uint8_t>> States;
  std::vector<std::vector<std::vector<FILE_INFO>>> Entries;
  // Run while "open".
  std::function<void(TMainForm&)> WhileOpen;
};

class RecordingPowerOff final : public PowerOffWindow {
public:
  std::optional<std::string> ShowModal() override {
    ++Shown;
    return std::nullopt;
  }
  int Shown = 0;
};

// A machine at rest: nothing moves in the counters.
class QuietActivity final : public ActivityCounters {
public:
  uint32_t ProcessorCount() override { return 1; }
  std::optional<ProcessorTimes> ReadProcessorTimes() override { return ProcessorTimes{}; }
  std::optional<DiskIdleTime> ReadDiskIdle() override { return DiskIdleTime{}; }
};

// A volume "X:" of 4,096 clusters: a directory, four contiguous files and
// `fragmented` files of three extents each.
std::shared_ptr<MemoryVolume> MakeWindowVolume(const std::string& volumeName,
                                               const std::string& fileSystem = "FAT32",
                                               int fragmented = 3);

// Every file of the volume in one extent.
bool AllFilesContiguous(const MemoryVolume& volume);

class FormRig {
public:
  FormRig();

  TempDir Folder;
  TestCatalog Catalog;
  ShortSleepClock TestClock;
  QuietActivity Activity;
  RecordingNotifier Messages;
  RecordingReports Reports;
  RecordingPowerOff PowerOff;
  uint8_t LineStatus = 1;
  EngineFactory* Engines = nullptr;
  std::vector<std::string> Arguments;
  // Where the task bar entry hears of the progress; empty: the session bus.
  std::function<QDBusConnection()> DesktopBus;
  // Where the window keeps its settings instead of SettingsFile().
  std::filesystem::path SettingsFileOverride;

  std::filesystem::path SettingsFile() const { return Folder.Path() / "config.ini"; }
  // Changes config.ini before the window starts.
  void EditSettings(const std::function<void(TSetting&)>& change);
  // What config.ini holds now.
  std::unique_ptr<TSetting> StoredSettings() const;
  FormServices Services();
  std::unique_ptr<TMainForm> Create();
};

// Runs the event loop until the condition holds; false when it still does
// not after a generous while (a hang, not a timing check).
bool PumpUntil(const std::function<bool()>& condition);
// Runs what the event loop has queued, twice over.
void PumpPending();

// The texts of one row of a list.
std::vector<std::string> RowTexts(QTreeWidget* list, int row);

} // namespace quillo::test
