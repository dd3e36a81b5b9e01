// SPDX-License-Identifier: GPL-2.0-or-later
// A block device that the test's own threads cannot open, as a desktop
// user cannot open a disk that belongs to root, while the disk service
// (started before, with root's full rights) still can: the node's mode
// bits are cleared, and root's right to open files whatever their modes
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) leaves the effective set of the
// calling thread, and so of every thread and process it starts from then
// on. Both come back when the object goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace quillo::test {

class DeviceOutOfReach {
public:
  explicit DeviceOutOfReach(std::string device);
  ~DeviceOutOfReach();
  DeviceOutOfReach(const DeviceOutOfReach&) = delete;
  DeviceOutOfReach& operator=(const DeviceOutOfReach&) = delete;

  // The device's mode was cleared and the rights dropped.
  bool Active() const { return Dropped; }

private:
  std::string Device;
  mode_t FormerMode = 0;
  bool ModeCleared = false;
  uint32_t FormerEffective = 0;
  bool Dropped = false;
};

} // namespace quillo::test
