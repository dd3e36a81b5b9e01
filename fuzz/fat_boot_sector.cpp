// SPDX-License-Identifier: GPL-2.0-or-later
// The start of a FAT32 volume (boot sector, FSInfo, backup boot sector, the
// head of the FAT) as read from an untrusted device: the boot-sector
// validation and the layout it promises, then the volume opened on a device
// that reads zeros after the fuzzer's bytes, and its root listed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "engine/VolumeDevice.h"
#include "platform/fat/FatLayout.h"
#include "platform/fat/FatVolume.h"

namespace {

using namespace quillo;
using namespace quillo::fat;
using quillo::fuzz::Require;

// Larger FATs are sound but cost a read of that size per input.
constexpr uint64_t kLargestOpenedFat = uint64_t(4) << 20;
// Where mkfs.fat puts the backup boot sector.
constexpr size_t kUsualBackupSector = 6;
constexpr uint64_t kLargestDevice = uint64_t(1) << 44;
constexpr size_t kWalkedEntries = 16;

void CheckLayout(const FatLayout& layout, uint64_t deviceBytes) {
  Require(layout.VolumeBytes() <= deviceBytes, "the volume fits its device");
  Require(layout.BytesPerCluster == layout.BytesPerSector * layout.SectorsPerCluster,
          "cluster size is sectors times sector size");
  Require(layout.FatCount >= 1 && layout.ActiveFat < layout.FatCount, "the active FAT exists");
  Require(layout.IsDataCluster(layout.RootCluster), "the root cluster is a data cluster");
  Require(layout.FsInfoSector < layout.ReservedSectors, "FSInfo lies in the reserved area");
  Require(layout.BackupBootSector < layout.ReservedSectors,
          "the backup boot sector lies in the reserved area");
  Require(layout.FatBytes() >= (uint64_t(layout.MaxCluster()) + 1) * kFatEntryBytes,
          "the FAT holds an entry for every cluster");
  Require(layout.ClusterOffset(layout.MaxCluster()) + layout.BytesPerCluster <=
              layout.VolumeBytes(),
          "the last cluster ends inside the volume");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {

  BootSector boot{};
  std::memcpy(&boot, data, std::min(size, sizeof(boot)));

  FatLayout layout;
  // The size the volume claims, and a device far larger.
  uint64_t claimed = uint64_t(boot.TotSec32.Get()) * boot.BytsPerSec.Get();
  for (uint64_t deviceBytes : {claimed, kLargestDevice}) {
    std::string why = ValidateBootSector(boot, deviceBytes, layout);
    if (why.empty()) CheckLayout(layout, deviceBytes);
  }

  FsInfoSector info{};
  if (size >= 2 * sizeof(info)) std::memcpy(&info, data + sizeof(boot), sizeof(info));
  (void)IsValidFsInfo(info);
  BootSector backup{};
  size_t backupOffset = kUsualBackupSector * sizeof(boot);
  if (size >= backupOffset + sizeof(backup)) {
    std::memcpy(&backup, data + backupOffset, sizeof(backup));
    (void)DifferingLayoutFields(boot, backup);
  }

  if (!ValidateBootSector(boot, kLargestDevice, layout).empty() ||
      layout.FatBytes() > kLargestOpenedFat)
    return 0;
  std::string why;
  std::unique_ptr<FatVolume> volume = FatVolume::Open(
      "C:", std::make_unique<fuzz::SparseDevice>(data, size, layout.VolumeBytes()), why);
  if (!volume) return 0;
  DiskFreeSpace space;
  volume->GetFreeSpace("C:\\", space);
  VolumeInformation information;
  volume->GetVolumeInformation("C:\\", 16, information);
  std::vector<DirectoryEntry> entries;
  volume->ListDirectory("C:\\*.*", entries);
  // One level down: the chains and directories the root's entries lead to.
  size_t walked = 0;
  for (const DirectoryEntry& entry : entries) {
    if (++walked > kWalkedEntries) break;
    std::string name;
    for (char16_t c : entry.Name) name.push_back(c < 0x80 ? char(c) : '_');
    std::string path = "C:\\" + name;
    volume->GetFileAttributes(path);
    std::vector<DirectoryEntry> inner;
    if (entry.FileAttributes & kFileAttributeDirectory) volume->ListDirectory(path + "\\*.*", inner);
  }
  (void)volume->Notices();
  return 0;
}
