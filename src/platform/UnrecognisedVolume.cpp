// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/UnrecognisedVolume.h"

#include <cstdio>
#include <optional>

#include "platform/BlkidProbe.h"
#include "platform/BootSectorProbe.h"
#include "platform/FileBlockDevice.h"
#include "platform/ForeignVolume.h"
#include "platform/QuantityText.h"
#include "platform/VolumeStorage.h"

namespace quillo {

namespace {

// Windows marks the partitions of a dynamic disk with these types; its
// volumes lie where the LDM database says, not where the table does.
constexpr int kMbrLdmType = 0x42;
constexpr const char* kGptLdmTypes[] = {"5808c8aa-7e8f-42e0-85d2-e1e90434cfb3",  // metadata
                                        "af9b60a0-1431-4f62-bc68-3311714a69ad"}; // data
constexpr const char* kDynamicDiskRefusal =
    "volumes on dynamic disks are not supported, only FAT32 and NTFS on basic disks and images";

std::string HexByte(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", unsigned(value) & 0xFFu);
  return text;
}

// "FAT32", "exFAT", "ext4"... what a partition holds, for the list.
std::string PartitionContent(const std::string& path, const DiskPartition& partition) {
  if (partition.Extended) return "extended";
  std::unique_ptr<FileBlockDevice> window =
      FileBlockDevice::OpenForProbe(path, partition.Offset, partition.Length);
  if (window) {
    BootSectorFacts facts = ReadBootSectorFacts(*window);
    if (facts.Kind != FileSystemKind::Unknown) return facts.FileSystemName;
    if (std::optional<ForeignVolume> foreign = IdentifyForeignVolume(*window))
      return foreign->Name;
  }
  FileSystemTags tags = ProbeFileSystemTags(path, partition.Offset, partition.Length);
  if (tags.Type == "vfat" && !tags.Version.empty()) return tags.Version;
  return tags.Type.empty() ? "unknown" : tags.Type;
}

// The partition that makes a disk a dynamic one, told; empty when none does.
std::string DynamicDiskPartition(const PartitionTable& table) {
  for (const DiskPartition& partition : table.Partitions) {
    std::string number = "#" + std::to_string(partition.Number);
    if (partition.MbrType == kMbrLdmType)
      return "partition " + number + " has the LDM type " + HexByte(kMbrLdmType);
    for (const char* type : kGptLdmTypes)
      if (partition.TypeGuid == type) return "partition " + number + " has an LDM type";
  }
  return {};
}

std::string ExplainPartitionedDisk(const VolumeSource& source, const PartitionTable& table) {
  std::string ldm = DynamicDiskPartition(table);
  if (!ldm.empty()) return "a Windows dynamic disk (" + ldm + "): " + kDynamicDiskRefusal;
  std::string partitions;
  for (const DiskPartition& partition : table.Partitions) {
    if (!partitions.empty()) partitions += ", ";
    partitions += "#" + std::to_string(partition.Number) + " " +
                  PartitionContent(source.Path, partition) + " " +
                  FormatByteSize(partition.Length);
  }
  return source.Location + " is a partitioned disk (" + table.Scheme + "): " + partitions +
         "; name a partition as " + source.Location + "#N";
}

} // namespace

std::string ExplainUnrecognisedVolume(const VolumeSource& source, BlockDevice& storage,
                                      const std::string& bootSectorWhy) {
  // The boot sector first: libblkid also takes an exFAT boot sector for an
  // MBR.
  if (std::optional<ForeignVolume> foreign = IdentifyForeignVolume(storage)) return foreign->Why;
  bool wholeDisk = source.Offset == 0 && ParseVolumeLocation(source.Location).Partition == 0;
  // libblkid finds an empty MBR in some boot sectors that are damaged
  // volumes rather than disks: only partitions make a disk.
  if (wholeDisk)
    if (std::optional<PartitionTable> table = ReadPartitionTable(source.Path);
        table && !table->Partitions.empty())
      return ExplainPartitionedDisk(source, *table);
  return bootSectorWhy;
}

} // namespace quillo
