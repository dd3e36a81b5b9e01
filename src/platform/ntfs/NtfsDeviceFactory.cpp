// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/NtfsDeviceFactory.h"

#include <stdexcept>

#include "platform/ntfs/NtfsVolume.h"
#include "settings/ConfigurationFolder.h"

namespace quillo {

namespace {
constexpr const char* kJournalFolderName = "journal";
}

std::filesystem::path NtfsJournalFolder() { return ConfigurationFolder() / kJournalFolderName; }

std::shared_ptr<VolumeDevice> OpenNtfsDevice(const std::string& volumeName,
                                             const std::filesystem::path& devicePath,
                                             std::string& why) {
  NtfsVolumeOptions options;
  options.VolumeName = volumeName;
  options.ImagePath = devicePath;
  try {
    options.JournalFolder = NtfsJournalFolder();
  } catch (const std::runtime_error& error) {
    why = std::string("The recovery journal has no place: ") + error.what() + ".";
    return nullptr;
  }
  return NtfsVolume::Open(options, why);
}

} // namespace quillo
