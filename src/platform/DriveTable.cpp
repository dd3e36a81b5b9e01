// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/DriveTable.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/BootSectorProbe.h"
#include "platform/DeviceDiscovery.h"
#include "platform/DriveConfig.h"
#include "platform/HeldVolume.h"
#include "platform/RefusalSummary.h"
#include "platform/UDisksClient.h"
#include "platform/VolumeFactory.h"
#include "platform/VolumeStorage.h"

namespace quillo {

namespace {

constexpr char kFirstDiscoveredLetter = 'C';
constexpr char kLastLetter = 'Z';
// Room for "FAT32" or "NTFS" and the terminating zero, as the engine asks.
constexpr size_t kFileSystemNameCapacity = 10;
constexpr const char* kNotOurs = "not FAT32 or NTFS";

// A volume discovery found holding a file system other than FAT32 or NTFS.
bool IsForeign(const DriveTable::Drive& drive) {
  return drive.Discovered && !drive.FileSystem.empty() && !IsFat32OrNtfs(drive.FileSystem);
}

// The device number behind a path, when it is a block device.
bool BlockDeviceNumber(const std::string& path, dev_t& number) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return false;
  number = info.st_rdev;
  return true;
}

char FreeLetter(const std::set<char>& taken, const std::set<char>& avoided) {
  for (char letter = kFirstDiscoveredLetter; letter <= kLastLetter; ++letter)
    if (!taken.count(letter) && !avoided.count(letter)) return letter;
  // Every letter is taken or remembered for another volume: the remembered
  // ones give way first.
  for (char letter = kFirstDiscoveredLetter; letter <= kLastLetter; ++letter)
    if (!taken.count(letter)) return letter;
  return 0;
}

// The volume read-only and without locks, for a look at it.
std::shared_ptr<VolumeDevice> OpenForQuery(VolumeSource source) {
  std::string why;
  if (!ResolveVolumeSource(source, why)) return nullptr;
  std::unique_ptr<FileBlockDevice> storage = ProbeVolumeStorage(source);
  if (!storage) return nullptr;
  source.ReadOnly = true;
  return OpenVolumeDevice(source, std::move(storage), why);
}

} // namespace

DriveTable::DriveTable(DriveEnvironment environment) : Environment(std::move(environment)) {
  Refresh();
}

void DriveTable::Refresh() {
  DriveConfig config = DriveConfig::Load(Environment.ConfigurationFolder);
  std::vector<std::string> problems = config.Warnings();
  std::vector<Drive> drives;
  std::set<char> taken;
  std::set<dev_t> configuredDevices;
  for (const DriveConfig::Drive& configured : config.Drives()) {
    drives.push_back({configured.Letter, configured.Location, false, {}, {}, {}, 0});
    taken.insert(configured.Letter);
    dev_t number;
    if (BlockDeviceNumber(ParseVolumeLocation(configured.Location).Path, number))
      configuredDevices.insert(number);
  }

  if (Environment.Discover) {
    const DriveConfig::LetterMap& remembered = config.RememberedLetters();
    for (const DiscoveredVolume& volume : Discover()) {
      dev_t number;
      if (BlockDeviceNumber(volume.DevicePath, number) && configuredDevices.count(number))
        continue; // configured by hand under a letter of its own
      char letter = 0;
      auto known = remembered.find(volume.Uuid);
      if (known != remembered.end() && !taken.count(known->second)) {
        letter = known->second;
      } else {
        std::set<char> avoided;
        for (const auto& [uuid, other] : remembered)
          if (uuid != volume.Uuid) avoided.insert(other);
        letter = FreeLetter(taken, avoided);
        if (letter == 0) {
          problems.push_back("no drive letter is left for " + volume.DevicePath);
          continue;
        }
        if (!volume.Uuid.empty()) config.Remember(volume.Uuid, letter);
      }
      taken.insert(letter);
      drives.push_back({letter, volume.DevicePath, true, volume.Label, volume.Model,
                        volume.FileSystem, volume.SizeBytes});
    }
    std::string why;
    if (!config.Save(why)) problems.push_back("the drive letters cannot be remembered: " + why);
  }
  std::sort(drives.begin(), drives.end(),
            [](const Drive& a, const Drive& b) { return a.Letter < b.Letter; });

  std::lock_guard<std::mutex> guard(Lock);
  std::vector<Entry> entries;
  for (const Drive& drive : drives) {
    Entry entry;
    entry.Info = drive;
    // A volume in use keeps its device while its letter names it still.
    for (const Entry& old : Entries)
      if (old.Info.Letter == drive.Letter && old.Info.Location == drive.Location)
        entry.Device = old.Device;
    entries.push_back(std::move(entry));
  }
  Entries = std::move(entries);
  Problems = std::move(problems);
  System = config.SystemLetter();
}

std::vector<DiscoveredVolume> DriveTable::Discover() const {
  if (Environment.AskDiskService)
    if (std::unique_ptr<UDisksClient> service = UDisksClient::Connect()) {
      std::vector<UDisksBlock> blocks;
      std::string why;
      if (service->ReadBlocks(blocks, why)) return DiscoverVolumes(blocks);
    }
  return DiscoverVolumes(Environment.SysClassBlock, Environment.DeviceFolder);
}

char DriveTable::AddImage(const std::string& location, std::string& why) {
  VolumeSource source;
  source.Location = location;
  if (!ResolveVolumeSource(source, why)) return 0;
  DriveConfig config = DriveConfig::Load(Environment.ConfigurationFolder);
  std::set<char> taken;
  {
    std::lock_guard<std::mutex> guard(Lock);
    for (const Entry& entry : Entries) {
      if (entry.Info.Location == location) {
        why = location + " is listed already, as " + entry.Info.Letter + ":";
        return 0;
      }
      taken.insert(entry.Info.Letter);
    }
  }
  for (const DriveConfig::Drive& drive : config.Drives()) taken.insert(drive.Letter);
  std::set<char> avoided;
  for (const auto& [uuid, letter] : config.RememberedLetters()) avoided.insert(letter);
  char letter = FreeLetter(taken, avoided);
  if (letter == 0) {
    why = "no drive letter is left for " + location;
    return 0;
  }
  config.AddDrive(letter, location);
  if (!config.Save(why)) return 0;
  Refresh();
  return letter;
}

bool DriveTable::IsConfigured(char letter) const {
  std::lock_guard<std::mutex> guard(Lock);
  for (const Entry& entry : Entries)
    if (entry.Info.Letter == letter) return !entry.Info.Discovered;
  return false;
}

bool DriveTable::RemoveConfigured(char letter, std::string& why) {
  if (!IsConfigured(letter)) {
    why = std::string(1, letter) + ": is not named in " + DriveConfig::kFileName;
    return false;
  }
  DriveConfig config = DriveConfig::Load(Environment.ConfigurationFolder);
  config.RemoveDrive(letter);
  if (!config.Save(why)) return false;
  Refresh();
  return true;
}

std::string DriveTable::DeviceToConfirm(char letter) const {
  std::string location;
  {
    std::lock_guard<std::mutex> guard(Lock);
    for (const Entry& entry : Entries)
      if (entry.Info.Letter == letter) location = entry.Info.Location;
  }
  std::string device = ParseVolumeLocation(location).Path;
  dev_t number;
  if (device.empty() || !BlockDeviceNumber(device, number)) return {};
  if (DriveConfig::Load(Environment.ConfigurationFolder).WritesConfirmed(device)) return {};
  return device;
}

bool DriveTable::ConfirmWrites(char letter, std::string& why) {
  std::string device = DeviceToConfirm(letter);
  if (device.empty()) return true;
  DriveConfig config = DriveConfig::Load(Environment.ConfigurationFolder);
  config.ConfirmWrites(device);
  return config.Save(why);
}

std::vector<DriveTable::Drive> DriveTable::Drives() const {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<Drive> drives;
  for (const Entry& entry : Entries) drives.push_back(entry.Info);
  return drives;
}

std::vector<std::string> DriveTable::Warnings() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Problems;
}

char DriveTable::SystemLetter() const {
  std::lock_guard<std::mutex> guard(Lock);
  return System;
}

const DriveTable::Entry* DriveTable::Find(const std::string& path) const {
  char letter = ParseDriveLetter(path.substr(0, 2));
  if (letter == 0 || (path.size() > 2 && path[2] != '\\') || path.size() > 3) return nullptr;
  for (const Entry& entry : Entries)
    if (entry.Info.Letter == letter) return &entry;
  return nullptr;
}

VolumeSource DriveTable::SourceOf(const Entry& entry) const {
  VolumeSource source;
  source.VolumeName = std::string(1, entry.Info.Letter) + ":";
  source.Location = entry.Info.Location;
  return source;
}

DriveTable::Description DriveTable::Describe(const std::string& volumeName) {
  Description description;
  std::string root = volumeName.substr(0, 2) + "\\";
  {
    std::lock_guard<std::mutex> guard(Lock);
    const Entry* entry = Find(root);
    if (!entry) return description;
    description.Location = entry->Info.Location;
    description.Label = entry->Info.Label;
    description.Model = entry->Info.Model;
    description.FileSystem = entry->Info.FileSystem;
    description.SizeBytes = entry->Info.SizeBytes;
  }
  VolumeInformation information;
  if (description.Label.empty() &&
      GetVolumeInformation(root, kFileSystemNameCapacity, information))
    description.Label = information.VolumeLabel;
  return description;
}

RefusalSummary DriveTable::BriefRefusal(const std::string& volumeName,
                                        const std::string& why) const {
  std::string location;
  {
    std::lock_guard<std::mutex> guard(Lock);
    const Entry* entry = Find(volumeName);
    if (!entry) return {why};
    // Known without reading the device, which may not be readable by us.
    if (IsForeign(entry->Info))
      return {std::string(kNotOurs) + " (" + entry->Info.FileSystem + ")"};
    location = entry->Info.Location;
  }
  return SummariseRefusal(location, why);
}

std::string DriveTable::LogicalDriveStrings() const {
  std::lock_guard<std::mutex> guard(Lock);
  std::string strings;
  for (const Entry& entry : Entries) {
    strings += entry.Info.Letter;
    strings += ":\\";
    strings.push_back('\0');
  }
  strings.push_back('\0');
  return strings;
}

uint32_t DriveTable::GetDriveType(const std::string& rootPath) const {
  std::lock_guard<std::mutex> guard(Lock);
  return Find(rootPath) ? kDriveFixed : kDriveNoRootDir;
}

std::shared_ptr<VolumeDevice> DriveTable::DeviceForQuery(Entry& entry) {
  if (std::shared_ptr<VolumeDevice> live = entry.Device.lock()) return live;
  return OpenForQuery(SourceOf(entry));
}

bool DriveTable::CanTellFileSystem(const std::string& volumeName) {
  VolumeInformation information;
  return GetVolumeInformation(volumeName + "\\", kFileSystemNameCapacity, information);
}

bool DriveTable::GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                                      VolumeInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Entry* entry = Find(rootPath);
  if (!entry) return false;
  if (std::shared_ptr<VolumeDevice> live = entry->Device.lock())
    return live->GetVolumeInformation(rootPath, nameCapacity, out);

  VolumeSource source = SourceOf(*entry);
  std::string why;
  if (!ResolveVolumeSource(source, why)) return false;
  std::unique_ptr<FileBlockDevice> storage = ProbeVolumeStorage(source);
  if (!storage) return false;
  BootSectorFacts facts = ReadBootSectorFacts(*storage);
  if (facts.Kind == FileSystemKind::Unknown || facts.FileSystemName.size() + 1 > nameCapacity)
    return false;
  out.FileSystemName = facts.FileSystemName;
  out.SerialNumber = facts.SerialNumber;
  out.VolumeLabel = facts.Label;
  out.MaximumComponentLength = 255;
  out.FileSystemFlags = 0;
  return true;
}

bool DriveTable::GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Entry* entry = Find(rootPath);
  if (!entry) return false;
  std::shared_ptr<VolumeDevice> device = DeviceForQuery(*entry);
  return device && device->GetFreeSpace(rootPath, out);
}

std::string DriveTable::MountPointOf(char letter) const {
  std::string location;
  {
    std::lock_guard<std::mutex> guard(Lock);
    for (const Entry& entry : Entries)
      if (entry.Info.Letter == letter) location = entry.Info.Location;
  }
  return location.empty() ? std::string() : MountPointOfLocation(location, Environment);
}

std::shared_ptr<VolumeDevice> DriveTable::OpenDevice(const std::string& volumeName,
                                                     std::string& why) {
  return OpenDevice(volumeName, why, false);
}

std::shared_ptr<VolumeDevice> DriveTable::OpenDevice(const std::string& volumeName,
                                                     std::string& why, bool evenMounted,
                                                     bool mayPrompt) {
  std::lock_guard<std::mutex> guard(Lock);
  Entry* entry = Find(volumeName);
  if (!entry) {
    why = volumeName + " names no volume";
    return nullptr;
  }
  if (std::shared_ptr<VolumeDevice> live = entry->Device.lock()) return live;
  // Refused without opening it, which might ask the user for nothing.
  if (IsForeign(entry->Info)) {
    why = entry->Info.Location + " holds " + entry->Info.FileSystem + ", neither FAT32 nor NTFS";
    return nullptr;
  }
  // The letter's volume as it is now; the job opens it again with these
  // from its own thread, so nothing of the table is shared with it.
  auto openForWork = [source = SourceOf(*entry), environment = Environment](
                         const OpeningIntent& intent, HeldVolume::Failure& failure) {
    VolumeSource opened = source;
    DriveEnvironment asked = environment;
    asked.Interactive = environment.Interactive && intent.Prompts;
    asked.Writes = intent.Writes;
    std::unique_ptr<FileBlockDevice> storage = OpenVolumeStorage(opened, asked, failure.Why);
    failure.NeedsAuthorisation = opened.NeedsAuthorisation;
    failure.Described = opened.Described;
    if (!storage) return std::shared_ptr<VolumeDevice>();
    return OpenVolumeDevice(opened, std::move(storage), failure.Why);
  };
  auto openForQuery = [source = SourceOf(*entry)] { return OpenForQuery(source); };
  // Opened for what the table's users do first: a look, an analysis, or a
  // pass where the environment says so.
  OpeningIntent first{Environment.Writes, mayPrompt};
  HeldVolume::Failure failure;
  std::shared_ptr<VolumeDevice> held = openForWork(first, failure);
  why = failure.Why;
  if (!held && !mayPrompt && failure.NeedsAuthorisation) {
    auto waiting = std::make_shared<HeldVolume>(failure, first, std::move(openForWork),
                                                std::move(openForQuery));
    entry->Device = waiting;
    return waiting;
  }
  // A mounted volume starts on a read-only look at it, which the first
  // release lets go; the work waits until it is unmounted.
  OpeningIntent heldFor = first;
  if (!held && evenMounted && !MountPointOfLocation(entry->Info.Location, Environment).empty()) {
    std::string refusal = why;
    held = openForQuery();
    heldFor.Writes = false;
    why = held ? std::string() : refusal;
  }
  if (!held) return nullptr;
  auto device = std::make_shared<HeldVolume>(std::move(held), heldFor, std::move(openForWork),
                                             std::move(openForQuery));
  entry->Device = device;
  return device;
}

} // namespace quillo
