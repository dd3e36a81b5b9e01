// SPDX-License-Identifier: GPL-2.0-or-later
// A system bus of a test's own (dbus-daemon) with the stand-in UDisks2
// (tests/fixtures/udisks_standin.py) on it, serving the devices a test
// describes; and the kernel's word on where a device is mounted, with a
// guard that unmounts a test's device whatever the test's outcome.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quillo::test {

// Both processes end with the object; DBUS_SYSTEM_BUS_ADDRESS names the
// bus meanwhile.
class PrivateDiskService {
public:
  PrivateDiskService(const std::filesystem::path& folder, const nlohmann::json& devices);
  ~PrivateDiskService();
  PrivateDiskService(const PrivateDiskService&) = delete;
  PrivateDiskService& operator=(const PrivateDiskService&) = delete;

  bool IsReady() const { return Ready; }
  // Serves these devices from now on, announcing those that came and went
  // as a plugged or unplugged disk is.
  void Replace(const nlohmann::json& devices);
  // The logs of the bus and the service, for a failure's message.
  std::string Trouble() const;
  // The calls of one kind ("OpenDevice", "Unmount", "Mount") the service
  // answered, in order.
  std::vector<nlohmann::json> Calls(const std::string& kind) const;
  std::vector<nlohmann::json> Opens() const { return Calls("OpenDevice"); }
  // The kinds of every call, in order.
  std::vector<std::string> CallNames() const;

private:
  std::vector<nlohmann::json> AllCalls() const;

  std::filesystem::path Folder;
  std::string Address;
  pid_t Bus = -1;
  pid_t Service = -1;
  bool Ready = false;
};

// A loop device's volume as the service describes it: name, device node,
// file system and size. A test adds what else the service tells of it
// (label, uuid, drive, needsPrompt, mountAt...).
nlohmann::json ServedLoopVolume(const std::string& device, const std::string& idType,
                                const std::string& idVersion, uintmax_t size);

// Where the device is mounted now, from /proc/self/mountinfo; empty when
// it is not.
std::string MountPointNow(const std::string& device);

// Unmounts whatever is still mounted of the device when it goes, so that
// its loop device can be detached: declared after the loop device.
class MountCleanup {
public:
  explicit MountCleanup(std::string device) : Device(std::move(device)) {}
  ~MountCleanup();
  MountCleanup(const MountCleanup&) = delete;
  MountCleanup& operator=(const MountCleanup&) = delete;

private:
  std::string Device;
};

} // namespace quillo::test
