// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/RefusalSummary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "platform/BlkidProbe.h"
#include "platform/BootSectorProbe.h"
#include "platform/FileBlockDevice.h"
#include "platform/ForeignVolume.h"
#include "platform/VolumeStorage.h"

namespace quillo {

namespace {

constexpr const char* kImageMissing = "image missing";
constexpr const char* kDeviceMissing = "device missing";
constexpr const char* kMounted = "Mounted";
constexpr const char* kInUse = "in use by another program";
constexpr const char* kShadowCopies = "shadow copies";
constexpr const char* kNotOurs = "not FAT32 or NTFS";
constexpr const char* kUnusable = "cannot be used";
constexpr const char* kPartitioned = "a partitioned disk: name a partition";
constexpr const char* kDynamicDisk = "a dynamic disk";
constexpr const char* kDevicePrefix = "/dev/";
constexpr const char* kNeedsAuthorisation = "needs authorization";

bool Mentions(const std::string& text, const char* phrase) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return lower.find(phrase) != std::string::npos;
}

// What the volume's window holds instead of FAT32 or NTFS: "ext4",
// "FAT16", "exFAT"...; empty when nothing could be told.
std::string ForeignContent(const VolumeSource& source) {
  if (std::unique_ptr<FileBlockDevice> window =
          FileBlockDevice::OpenForProbe(source.Path, source.Offset, source.Length)) {
    if (ReadBootSectorFacts(*window).Kind != FileSystemKind::Unknown) return {};
    if (std::optional<ForeignVolume> foreign = IdentifyForeignVolume(*window))
      return foreign->Name;
  }
  FileSystemTags tags = source.Length == 0
                            ? ProbeFileSystemTags(source.Path)
                            : ProbeFileSystemTags(source.Path, source.Offset, source.Length);
  if (tags.Type == "vfat" && !tags.Version.empty()) return tags.Version;
  return tags.Type;
}

} // namespace

RefusalSummary SummariseRefusal(const std::string& location, const std::string& why) {
  VolumeSource source;
  source.Location = location;
  std::string unresolved;
  if (!ResolveVolumeSource(source, unresolved)) {
    struct stat info {};
    if (stat(source.Path.c_str(), &info) != 0)
      return {source.Path.rfind(kDevicePrefix, 0) == 0 ? kDeviceMissing : kImageMissing};
    return {kUnusable};
  }
  if (Mentions(why, "needs the user's authorisation")) return {kNeedsAuthorisation};
  if (Mentions(why, " is mounted on ")) return {kMounted, true};
  if (Mentions(why, "in use")) return {kInUse, true};
  if (Mentions(why, "shadow cop")) return {kShadowCopies};
  if (Mentions(why, "dynamic disk")) return {kDynamicDisk};
  if (Mentions(why, "is a partitioned disk")) return {kPartitioned};
  std::string content = ForeignContent(source);
  if (!content.empty()) return {std::string(kNotOurs) + " (" + content + ")"};
  if (Mentions(why, "neither fat32 nor ntfs")) return {kNotOurs};
  return {kUnusable};
}

} // namespace quillo
