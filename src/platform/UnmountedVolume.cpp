// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/UnmountedVolume.h"

#include "platform/TerminalAuthAgent.h"
#include "platform/UDisksClient.h"

namespace quillo {

std::unique_ptr<UnmountedVolume> UnmountedVolume::Unmount(const std::string& device,
                                                          const DriveEnvironment& environment,
                                                          std::string& why) {
  bool interactive = environment.Interactive;
  std::unique_ptr<UDisksClient> service = UDisksClient::Connect();
  if (!service) {
    why = "the desktop's disk service (UDisks2) is not there to unmount it";
    return nullptr;
  }
  UDisksBlock block;
  if (!service->FindBlock(device, block)) {
    why = "UDisks2 does not know " + device;
    return nullptr;
  }
  if (!block.HasFilesystem) {
    why = "UDisks2 sees no file system on " + device;
    return nullptr;
  }
  std::string refusal;
  TerminalAuthAgent agent(interactive && environment.TerminalAgent);
  if (!service->Unmount(block.ObjectPath, interactive, refusal)) {
    why = refusal;
    return nullptr;
  }
  std::string former = block.MountPoints.empty() ? std::string() : block.MountPoints.front();
  return std::unique_ptr<UnmountedVolume>(
      new UnmountedVolume(device, block.ObjectPath, former, interactive,
                          environment.TerminalAgent));
}

UnmountedVolume::UnmountedVolume(std::string device, std::string objectPath, std::string former,
                                 bool interactive, bool terminalAgent)
    : DevicePath(std::move(device)), ObjectPath(std::move(objectPath)), Former(std::move(former)),
      Interactive(interactive), TerminalAgent(terminalAgent) {}

UnmountedVolume::~UnmountedVolume() {
  std::string place;
  std::string why;
  MountAgain(place, why);
}

bool UnmountedVolume::MountAgain(std::string& mountPoint, std::string& why) {
  if (!Done) {
    Done = true;
    std::unique_ptr<UDisksClient> service = UDisksClient::Connect();
    TerminalAuthAgent agent(service && Interactive && TerminalAgent);
    if (!service)
      Failure = "the desktop's disk service (UDisks2) is gone";
    else
      Mounted = service->Mount(ObjectPath, Interactive, Place, Failure);
  }
  mountPoint = Place;
  why = Failure;
  return Mounted;
}

} // namespace quillo
