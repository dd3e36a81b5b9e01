// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/TargetTable.h"

#include <cctype>
#include <filesystem>

#include "cli/DemoDisk.h"
#include "cli/DemoVolume.h"
#include "platform/DriveConfig.h"
#include "platform/FileIdentity.h"
#include "platform/VolumeFactory.h"
#include "platform/VolumeStorage.h"

namespace quillo {

namespace {
// Demo volumes take letters from Q on, out of the way of the drive table's.
constexpr char kFirstDemoLetter = 'Q';
constexpr char kLastLetter = 'Z';
constexpr char kFirstLetter = 'C';
// Enough for any file-system name when it is only shown.
constexpr size_t kShownNameCapacity = 32;
constexpr const char* kDemoTargets[] = {"demo:", "demo:fat32"};
constexpr const char* kNamedTwice = "named twice on the command line";

std::string FileSystemOf(VolumeDevice& device, const std::string& volumeName) {
  VolumeInformation information;
  if (!device.GetVolumeInformation(volumeName + "\\", kShownNameCapacity, information)) return "";
  return information.FileSystemName;
}

// "C:" or "c:\" names a drive letter; "C" alone could be a file.
char TargetLetter(const std::string& target) {
  std::string text = target;
  if (text.size() == 3 && text[2] == '\\') text.pop_back();
  if (text.size() != 2) return 0;
  return ParseDriveLetter(text);
}

std::string CanonicalPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

// By device and inode, so that hard links count too; by path when either
// is missing.
bool SameFile(const std::string& first, const std::string& second) {
  std::optional<FileIdentity> a = IdentifyFile(first);
  std::optional<FileIdentity> b = IdentifyFile(second);
  if (a && b) return *a == *b;
  return CanonicalPath(first) == CanonicalPath(second);
}
} // namespace

TargetTable::TargetTable(Clock& clock, DriveEnvironment environment)
    : Time(clock), Environment(environment), Drives(std::move(environment)),
      NextDemoLetter(kFirstDemoLetter) {}

TargetTable::~TargetTable() { MountAgain(); }

std::vector<std::string> TargetTable::TakeNotices() {
  std::vector<std::string> taken;
  taken.swap(Notices);
  return taken;
}

bool TargetTable::UnmountForWork(const std::string& location, std::string& why) {
  std::string mountPoint = MountPointOfLocation(location, Environment);
  if (mountPoint.empty() || !Unmounting) return true;
  std::string device = ParseVolumeLocation(location).Path;
  std::string refusal;
  std::unique_ptr<UnmountedVolume> unmounted =
      UnmountedVolume::Unmount(device, Environment, refusal);
  if (!unmounted) {
    why = device + " is mounted on " + mountPoint + " and cannot be unmounted: " + refusal;
    return false;
  }
  Notices.push_back(device + " unmounted from " + mountPoint + " for the work");
  Unmounted.push_back(std::move(unmounted));
  return true;
}

std::vector<RemountOutcome> TargetTable::MountAgain() {
  std::vector<RemountOutcome> lines;
  for (std::unique_ptr<UnmountedVolume>& volume : Unmounted) {
    std::string place;
    std::string why;
    if (volume->MountAgain(place, why)) {
      lines.push_back({volume->Device() + " mounted again on " + place, false});
    } else {
      lines.push_back({volume->Device() + " cannot be mounted again: " + why, true});
    }
  }
  Unmounted.clear();
  return lines;
}

OpenedTarget TargetTable::Open(const std::string& target) {
  if (LooksLikeDemoTarget(target)) return OpenDemo(target);
  if (char letter = TargetLetter(target)) return OpenLetter(target, letter);
  if (char letter = LetterOfLocation(target)) return OpenLetter(target, letter);
  return OpenLocation(target);
}

OpenedTarget TargetTable::OpenDemo(const std::string& target) {
  OpenedTarget opened;
  opened.Target = target;
  std::optional<DemoSpec> spec = ParseDemoTarget(target);
  if (!spec) {
    opened.Refusal = "unknown demo volume (demo:, demo:ntfs or demo:fat32)";
    return opened;
  }
  while (NextDemoLetter <= kLastLetter && Taken.count(NextDemoLetter))
    ++NextDemoLetter;
  if (NextDemoLetter > kLastLetter) {
    opened.Refusal = "no drive letter is left for it";
    return opened;
  }
  Taken.insert(NextDemoLetter);
  opened.VolumeName = std::string(1, NextDemoLetter++) + ":";
  opened.Demo = BuildDemoVolume(*spec, opened.VolumeName, Time.Now());
  opened.Device = std::make_shared<DemoDisk>(opened.Demo, Time);
  opened.FileSystem = FileSystemOf(*opened.Device, opened.VolumeName);
  return opened;
}

OpenedTarget TargetTable::OpenLetter(const std::string& target, char letter) {
  OpenedTarget opened;
  opened.Target = target;
  opened.VolumeName = std::string(1, letter) + ":";
  if (Taken.count(letter)) {
    opened.Refusal = kNamedTwice;
    return opened;
  }
  Taken.insert(letter);
  opened.FromDriveTable = true;
  for (const DriveTable::Drive& drive : Drives.Drives())
    if (drive.Letter == letter && !UnmountForWork(drive.Location, opened.Refusal)) return opened;
  opened.Device = Drives.OpenDevice(opened.VolumeName, opened.Refusal);
  if (opened.Device) opened.FileSystem = FileSystemOf(*opened.Device, opened.VolumeName);
  return opened;
}

OpenedTarget TargetTable::OpenLocation(const std::string& target) {
  OpenedTarget opened;
  opened.Target = target;
  if (NamedBefore(target, opened.Refusal)) return opened;
  char letter = FreeLetter();
  if (letter == 0) {
    opened.Refusal = "no drive letter is left for it";
    return opened;
  }
  VolumeSource source;
  source.VolumeName = std::string(1, letter) + ":";
  source.Location = target;
  if (!ResolveVolumeSource(source, opened.Refusal)) return opened;
  if (!UnmountForWork(target, opened.Refusal)) return opened;
  std::unique_ptr<FileBlockDevice> storage = OpenVolumeStorage(source, Environment, opened.Refusal);
  if (!storage) return opened;
  opened.Device = OpenVolumeDevice(source, std::move(storage), opened.Refusal);
  if (!opened.Device) return opened;
  Taken.insert(letter);
  opened.VolumeName = source.VolumeName;
  opened.ReadOnly = source.ReadOnly;
  opened.FileSystem = FileSystemOf(*opened.Device, opened.VolumeName);
  return opened;
}

char TargetTable::LetterOfLocation(const std::string& location) const {
  VolumeLocation wanted = ParseVolumeLocation(location);
  for (const DriveTable::Drive& drive : Drives.Drives()) {
    VolumeLocation known = ParseVolumeLocation(drive.Location);
    if (known.Partition == wanted.Partition && SameFile(known.Path, wanted.Path))
      return drive.Letter;
  }
  return 0;
}

bool TargetTable::NamedBefore(const std::string& target, std::string& why) {
  VolumeLocation location = ParseVolumeLocation(target);
  std::optional<FileIdentity> identity = IdentifyFile(location.Path);
  if (!identity) return false;
  auto [earlier, first] = Named.try_emplace(*identity, NamedFile{location.Partition, target});
  if (first) return false;
  const NamedFile& named = earlier->second;
  if (named.Partition != location.Partition) {
    // The first one holds the image's lock until the run ends.
    why = "another partition of " + location.Path + " (" + named.Target +
          ") is named before it; name one partition of an image per run";
    return true;
  }
  why = kNamedTwice;
  if (named.Target != target) why += ", also as " + named.Target;
  return true;
}

char TargetTable::FreeLetter() {
  std::set<char> used = Taken;
  for (const DriveTable::Drive& drive : Drives.Drives())
    used.insert(drive.Letter);
  for (char letter = kFirstLetter; letter < kFirstDemoLetter; ++letter)
    if (!used.count(letter)) return letter;
  for (char letter = kLastLetter; letter >= kFirstDemoLetter; --letter)
    if (!used.count(letter)) return letter;
  return 0;
}

std::vector<ListedVolume> TargetTable::List() {
  std::vector<ListedVolume> listed;
  for (const DriveTable::Drive& drive : Drives.Drives()) {
    ListedVolume volume;
    volume.Letter = std::string(1, drive.Letter) + ":";
    volume.Target = drive.Location;
    std::string root = volume.Letter + "\\";
    VolumeInformation information;
    if (Drives.GetVolumeInformation(root, kShownNameCapacity, information))
      volume.FileSystem = information.FileSystemName;
    else
      volume.FileSystem = drive.FileSystem; // what discovery found: "ext4", "FAT16"
    DiskFreeSpace space;
    if (Drives.GetFreeSpace(root, space)) volume.SizeBytes = space.TotalNumberOfBytes;
    // Opened as for work, and let go at once: that is the honest answer. A
    // list asks nobody for authorisation: a volume that needs it is listed
    // from what the disk service tells of it, and a command on it asks.
    std::shared_ptr<VolumeDevice> device =
        Drives.OpenDevice(volume.Letter, volume.Why, false, false);
    bool waiting = device && device->OpenNeedsAuthorisation();
    if (waiting) volume.Why = device->OpenFailure();
    volume.Usable = device != nullptr && !waiting;
    // A device only the disk service could open is read through it.
    if (device && volume.FileSystem.empty()) volume.FileSystem = FileSystemOf(*device, volume.Letter);
    if (device && volume.SizeBytes == 0 && device->GetFreeSpace(root, space))
      volume.SizeBytes = space.TotalNumberOfBytes;
    // A volume not read (of another file system): its device's size.
    if (volume.SizeBytes == 0) volume.SizeBytes = drive.SizeBytes;
    if (volume.Usable)
      volume.Why.clear();
    else
      volume.Reason = Drives.BriefRefusal(volume.Letter, volume.Why).Brief;
    listed.push_back(volume);
  }
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
    volume.Reason = opened.Refusal;
    listed.push_back(volume);
  }
  return listed;
}

} // namespace quillo
