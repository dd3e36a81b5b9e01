// SPDX-License-Identifier: GPL-2.0-or-later
// The desktop's disk service, UDisks2, on the system bus (through sd-bus):
// its block devices with their file systems, drives and mount points, and a
// descriptor of a device the program may not open itself (Block.OpenDevice,
// which polkit authorises), and unmounting and mounting a file system
// (Filesystem.Unmount and Mount, which polkit decides on too).
// DBUS_SYSTEM_BUS_ADDRESS points it at another bus.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace quillo {

// One block device as UDisks2 describes it.
struct UDisksBlock {
  std::string ObjectPath; // "/org/freedesktop/UDisks2/block_devices/sdb1"
  std::string Device;     // "/dev/sdb1"
  uint64_t Size = 0;
  std::string IdType;     // "vfat", "ntfs", "ext4", ...
  std::string IdVersion;  // "FAT32", ...
  std::string IdUuid;
  std::string IdLabel;
  bool HintSystem = false;
  bool HintIgnore = false;
  bool IsLoop = false;
  bool HasFilesystem = false;
  std::vector<std::string> MountPoints;
  // From its drive, when it has one.
  std::string DriveModel;
  bool Removable = false;
};

class UDisksClient {
public:
  // Null when there is no system bus or no UDisks2 on it (a server, a
  // container): discovery then falls back to libblkid and libudev.
  static std::unique_ptr<UDisksClient> Connect();
  ~UDisksClient();
  UDisksClient(const UDisksClient&) = delete;
  UDisksClient& operator=(const UDisksClient&) = delete;

  // Every block device, in object-path order; false with `why` when the
  // service does not answer.
  bool ReadBlocks(std::vector<UDisksBlock>& out, std::string& why);
  // The block device whose Device is `path` (by the device number, so that
  // "/dev/disk/by-uuid/..." names it too); false when UDisks2 has none.
  bool FindBlock(const std::string& path, UDisksBlock& out);
  // Block.OpenDevice: a descriptor of the device, "r" or "rw", opened
  // exclusively by the service. `interactive` lets polkit ask the user;
  // without it a device that needs a prompt is refused, and
  // `needsAuthorisation` says that this was why. -1 with `why`.
  int OpenDevice(const std::string& objectPath, bool writable, bool interactive, std::string& why,
                 bool& needsAuthorisation);
  // Filesystem.Unmount of the block device's file system; false with the
  // service's own reason (files open, not authorised) in `why`.
  bool Unmount(const std::string& objectPath, bool interactive, std::string& why);
  // Filesystem.Mount, at the place the service chooses; that place, or
  // false with `why`.
  bool Mount(const std::string& objectPath, bool interactive, std::string& mountPoint,
             std::string& why);

  // Listens to the service's notices from now on: devices added or
  // removed, and changed properties (mount points, file systems). False
  // when it cannot.
  bool WatchChanges();
  // Readable when a notice may wait; for the caller's event loop.
  int Descriptor() const;
  // Handles what waits on the connection without blocking; true when a
  // notice came since the last call.
  bool TakeChanges();

private:
  explicit UDisksClient(sd_bus* bus) : Bus(bus) {}
  // Sends a call whose building ended with `built` (negative: failed), with
  // or without leave to prompt; the answer, or null with `why` and the
  // name of the error (empty when the call never reached the service).
  sd_bus_message* Send(sd_bus_message* call, int built, bool interactive, std::string& why,
                       std::string* errorName = nullptr);
  // A Filesystem method whose only argument is the options; the reply, or
  // null with `why`.
  sd_bus_message* CallFilesystem(const std::string& objectPath, const char* member,
                                 bool interactive, std::string& why);

  sd_bus* Bus;
  bool Changed = false;
};

} // namespace quillo
