// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <map>
#include <memory>

#include "mainwindow/VolumeCatalog.h"
#include "platform/DriveConfig.h"
#include "platform/DriveTable.h"
#include "platform/UnmountedVolume.h"

namespace quillo {

// The machine's volumes as the drive table names them.
class DriveTableCatalog final : public VolumeCatalog {
public:
  explicit DriveTableCatalog(const DriveEnvironment& environment);

  std::vector<std::string> LogicalDriveStrings() override;
  uint32_t DriveType(const std::string& root) override;
  std::shared_ptr<VolumeDevice> OpenDevice(const std::string& volumeName, std::string& why) override;
  void Rescan() override { Table.Refresh(); }
  std::filesystem::path WatchedFile() override { return DrivesFile; }
  char SystemVolumeLetter() override { return Table.SystemLetter(); }
  Description Describe(const std::string& root) override;
  bool AddImage(const std::string& location, std::string& why) override {
    return Table.AddImage(location, why) != 0;
  }
  bool CanRemove(const std::string& root) override;
  std::string DeviceToConfirm(const std::string& root) override {
    return Table.DeviceToConfirm(ParseDriveLetter(root.substr(0, 2)));
  }
  void ConfirmWrites(const std::string& root) override {
    std::string why;
    Table.ConfirmWrites(ParseDriveLetter(root.substr(0, 2)), why);
  }
  bool Remove(const std::string& root, std::string& why) override;
  std::vector<ImagePartition> PartitionsOf(const std::string& image) override;
  Refusal BriefRefusal(const std::string& root, const std::string& why) override {
    RefusalSummary summary = Table.BriefRefusal(root.substr(0, 2), why);
    return {summary.Brief, summary.Passing};
  }

  std::string MountPoint(const std::string& root) override {
    return Table.MountPointOf(ParseDriveLetter(root.substr(0, 2)));
  }
  bool Unmount(const std::string& root, std::string& why) override;
  bool MountAgain(const std::string& root, std::string& mountPoint, std::string& why) override;

  // Problems with drives.ini met by the last look.
  std::vector<std::string> Warnings() const { return Table.Warnings(); }

private:
  DriveTable Table;
  std::filesystem::path DrivesFile;
  // Whether polkit may ask the user at the screen.
  DriveEnvironment Environment;
  // What was unmounted for the work, by letter, until it is mounted again.
  std::map<char, std::unique_ptr<UnmountedVolume>> Unmounted;
};

} // namespace quillo
