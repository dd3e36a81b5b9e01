// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/TargetTable.h"

#include "cli/DemoDisk.h"
#include "cli/DemoVolume.h"

namespace quillo {

namespace {
// Demo volumes take letters from Q on, out of the way of the drive table's.
constexpr char kFirstDemoLetter = 'Q';
constexpr char kLastDemoLetter = 'Z';
// Enough for any file-system name when it is only shown.
constexpr size_t kShownNameCapacity = 32;
constexpr const char* kDemoTargets[] = {"demo:", "demo:fat32"};

std::string FileSystemOf(VolumeDevice& device, const std::string& volumeName) {
  VolumeInformation information;
  if (!device.GetVolumeInformation(volumeName + "\\", kShownNameCapacity, information)) return "";
  return information.FileSystemName;
}
} // namespace

TargetTable::TargetTable(Clock& clock) : Time(clock), NextDemoLetter(kFirstDemoLetter) {}

OpenedTarget TargetTable::Open(const std::string& target) {
  if (LooksLikeDemoTarget(target)) return OpenDemo(target);
  OpenedTarget opened;
  opened.Target = target;
  opened.Refusal = "no such volume, device or image";
  return opened;
}

OpenedTarget TargetTable::OpenDemo(const std::string& target) {
  OpenedTarget opened;
  opened.Target = target;
  std::optional<DemoSpec> spec = ParseDemoTarget(target);
  if (!spec) {
    opened.Refusal = "unknown demo volume (demo:, demo:ntfs or demo:fat32)";
    return opened;
  }
  if (NextDemoLetter > kLastDemoLetter) {
    opened.Refusal = "too many demo volumes";
    return opened;
  }
  opened.VolumeName = std::string(1, NextDemoLetter++) + ":";
  opened.Demo = BuildDemoVolume(*spec, opened.VolumeName, Time.Now());
  opened.Device = std::make_shared<DemoDisk>(opened.Demo, Time);
  opened.FileSystem = FileSystemOf(*opened.Device, opened.VolumeName);
  return opened;
}

std::vector<ListedVolume> TargetTable::List() {
  std::vector<ListedVolume> listed;
  for (const char* demo : kDemoTargets) {
    OpenedTarget opened = OpenDemo(demo);
    ListedVolume volume;
    volume.Letter = opened.VolumeName;
    volume.Target = demo;
    volume.FileSystem = opened.FileSystem;
    DiskFreeSpace space;
    if (opened.Device && opened.Device->GetFreeSpace(opened.VolumeName + "\\", space))
      volume.SizeBytes = space.TotalNumberOfBytes;
    volume.Usable = opened.Device != nullptr;
    volume.Why = opened.Refusal;
    listed.push_back(volume);
  }
  NextDemoLetter = kFirstDemoLetter;
  return listed;
}

} // namespace quillo
