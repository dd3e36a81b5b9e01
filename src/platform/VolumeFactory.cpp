// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/VolumeFactory.h"

#include "platform/BootSectorProbe.h"
#include "platform/NtfsDeviceOpener.h"
#include "platform/UnrecognisedVolume.h"
#include "platform/fat/FatVolume.h"

namespace quillo {

std::shared_ptr<VolumeDevice> OpenVolumeDevice(const VolumeSource& source,
                                               std::unique_ptr<BlockDevice> storage,
                                               std::string& why) {
  BootSectorFacts facts = ReadBootSectorFacts(*storage);
  switch (facts.Kind) {
  case FileSystemKind::Ntfs: return OpenNtfsDevice(source, std::move(storage), why);
  case FileSystemKind::Fat32: {
    std::shared_ptr<VolumeDevice> device =
        fat::FatVolume::Open(source.VolumeName, std::move(storage), why);
    return device;
  }
  case FileSystemKind::Unknown: break;
  }
  why = ExplainUnrecognisedVolume(source, *storage, facts.Why);
  return nullptr;
}

} // namespace quillo
