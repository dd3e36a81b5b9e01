// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/DriveTableCatalog.h"

#include "platform/BlkidProbe.h"
#include "platform/DriveConfig.h"
#include "platform/QuantityText.h"
#include "platform/VolumeStorage.h"

namespace quillo {

DriveTableCatalog::DriveTableCatalog(const DriveEnvironment& environment)
    : Table(environment), DrivesFile(environment.ConfigurationFolder / DriveConfig::kFileName),
      Environment(environment) {}

std::vector<std::string> DriveTableCatalog::LogicalDriveStrings() {
  // "C:\<NUL>D:\<NUL><NUL>": split at each NUL, up to the double one.
  std::string strings = Table.LogicalDriveStrings();
  std::vector<std::string> roots;
  size_t start = 0;
  while (start < strings.size()) {
    size_t end = strings.find('\0', start);
    if (end == std::string::npos) end = strings.size();
    if (end == start) break;
    roots.push_back(strings.substr(start, end - start));
    start = end + 1;
  }
  return roots;
}

uint32_t DriveTableCatalog::DriveType(const std::string& root) { return Table.GetDriveType(root); }

std::shared_ptr<VolumeDevice> DriveTableCatalog::OpenDevice(const std::string& volumeName,
                                                            std::string& why) {
  // A mounted volume is listed too: the user may let it be unmounted. No
  // prompt comes with the list (the window starts at each log-on): a volume
  // that needs the user's authorisation is opened by the user's first
  // command on it.
  return Table.OpenDevice(volumeName, why, true, false);
}

bool DriveTableCatalog::Unmount(const std::string& root, std::string& why) {
  char letter = ParseDriveLetter(root.substr(0, 2));
  std::string device = ParseVolumeLocation(Table.Describe(root.substr(0, 2)).Location).Path;
  if (device.empty()) {
    why = root.substr(0, 2) + " names no volume";
    return false;
  }
  std::unique_ptr<UnmountedVolume> unmounted = UnmountedVolume::Unmount(device, Environment, why);
  if (!unmounted) return false;
  Unmounted[letter] = std::move(unmounted);
  return true;
}

bool DriveTableCatalog::MountAgain(const std::string& root, std::string& mountPoint,
                                   std::string& why) {
  auto found = Unmounted.find(ParseDriveLetter(root.substr(0, 2)));
  if (found == Unmounted.end()) return true;
  bool mounted = found->second->MountAgain(mountPoint, why);
  Unmounted.erase(found);
  return mounted;
}

VolumeCatalog::Description DriveTableCatalog::Describe(const std::string& root) {
  DriveTable::Description found = Table.Describe(root.substr(0, 2));
  return {found.Location, found.Label, found.Model, found.FileSystem, found.SizeBytes};
}

bool DriveTableCatalog::CanRemove(const std::string& root) {
  return Table.IsConfigured(ParseDriveLetter(root.substr(0, 2)));
}

bool DriveTableCatalog::Remove(const std::string& root, std::string& why) {
  return Table.RemoveConfigured(ParseDriveLetter(root.substr(0, 2)), why);
}

std::vector<VolumeCatalog::ImagePartition> DriveTableCatalog::PartitionsOf(const std::string& image) {
  std::vector<ImagePartition> partitions;
  std::optional<PartitionTable> table = ReadPartitionTable(image);
  if (!table) return partitions;
  for (const DiskPartition& partition : table->Partitions) {
    if (partition.Extended) continue;
    FileSystemTags tags = ProbeFileSystemTags(image, partition.Offset, partition.Length);
    std::string content = tags.Type == "vfat" && !tags.Version.empty() ? tags.Version : tags.Type;
    partitions.push_back({partition.Number, "#" + std::to_string(partition.Number) + " " +
                                                (content.empty() ? "unknown" : content) + " " +
                                                FormatByteSize(partition.Length)});
  }
  return partitions;
}

} // namespace quillo
