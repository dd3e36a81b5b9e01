// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/DeviceDiscovery.h"

#include <algorithm>
#include <fstream>

#include "platform/BlkidProbe.h"
#include "platform/UDisksClient.h"

namespace quillo {

namespace {

namespace fs = std::filesystem;

// sysfs gives a block device's size in sectors of this many bytes, whatever
// the device's own sector size.
constexpr uint64_t kSysfsSectorBytes = 512;

uint64_t ReadNumber(const fs::path& file) {
  std::ifstream in(file);
  uint64_t value = 0;
  return (in >> value) ? value : 0;
}

bool ReadFlag(const fs::path& file) { return ReadNumber(file) != 0; }

// The removable flag belongs to the disk; a partition's disk is the folder
// above it.
bool IsRemovable(const fs::path& entry) {
  std::error_code error;
  fs::path real = fs::canonical(entry, error);
  if (error) return false;
  if (fs::exists(real / "partition")) return ReadFlag(real.parent_path() / "removable");
  return ReadFlag(real / "removable");
}

bool Skipped(const std::string& name) {
  for (const char* prefix : {"loop", "ram", "zram"})
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

} // namespace

std::string NameFileSystem(const std::string& type, const std::string& version) {
  if (type == "ntfs") return "NTFS";
  // FAT12, FAT16 and FAT32 are told apart by the version.
  if (type == "vfat" && !version.empty()) return version;
  return type;
}

bool IsFat32OrNtfs(const std::string& fileSystem) {
  return fileSystem == "FAT32" || fileSystem == "NTFS";
}

std::vector<DiscoveredVolume> DiscoverVolumes(const fs::path& sysClassBlock,
                                              const fs::path& deviceFolder) {
  std::vector<DiscoveredVolume> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysClassBlock, error)) {
    std::string name = entry.path().filename().string();
    if (Skipped(name) || IsRemovable(entry.path())) continue;
    fs::path device = deviceFolder / name;
    FileSystemTags tags = ProbeFileSystemTags(device.string());
    std::string fileSystem = NameFileSystem(tags.Type, tags.Version);
    if (fileSystem.empty()) continue;
    found.push_back({name, device.string(), tags.Uuid, {}, {}, {}, fileSystem,
                     ReadNumber(entry.path() / "size") * kSysfsSectorBytes});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.Name < b.Name; });
  return found;
}

std::vector<DiscoveredVolume> DiscoverVolumes(const std::vector<UDisksBlock>& blocks) {
  std::vector<DiscoveredVolume> found;
  for (const UDisksBlock& block : blocks) {
    std::string fileSystem = NameFileSystem(block.IdType, block.IdVersion);
    if (fileSystem.empty() || block.HintIgnore || block.Removable) continue;
    if (block.IsLoop && block.HintSystem) continue;
    std::string name = fs::path(block.Device).filename().string();
    if (!block.IsLoop && Skipped(name)) continue;
    found.push_back({name, block.Device, block.IdUuid, block.IdLabel, block.DriveModel,
                     block.MountPoints.empty() ? std::string() : block.MountPoints.front(),
                     fileSystem, block.Size});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.Name < b.Name; });
  return found;
}

} // namespace quillo
