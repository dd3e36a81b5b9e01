// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/NtfsDeviceFactory.h"

#include <stdexcept>

#include "platform/NtfsDeviceOpener.h"
#include "platform/ntfs/BlockDeviceStorage.h"
#include "platform/ntfs/NtfsVolume.h"
#include "settings/ConfigurationFolder.h"

namespace quillo {

namespace {
constexpr const char* kJournalFolderName = "journal";
}

std::filesystem::path NtfsJournalFolder() { return ConfigurationFolder() / kJournalFolderName; }

std::shared_ptr<VolumeDevice> OpenNtfsDevice(const VolumeSource& source,
                                             std::unique_ptr<BlockDevice> storage,
                                             std::string& why) {
  NtfsVolumeOptions options;
  options.VolumeName = source.VolumeName;
  options.DeviceName = source.Location.empty() ? source.Path : source.Location;
  options.Storage = std::make_unique<BlockDeviceStorage>(std::move(storage));
  try {
    options.JournalFolder = NtfsJournalFolder();
  } catch (const std::runtime_error& error) {
    why = std::string("The recovery journal has no place: ") + error.what() + ".";
    return nullptr;
  }
  return NtfsVolume::Open(std::move(options), why);
}

} // namespace quillo
