// SPDX-License-Identifier: GPL-2.0-or-later
#include "DeviceOutOfReach.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillo::test {

namespace {

constexpr mode_t kModeBits = 07777;
// Both capabilities lie in the first word of the sets.
constexpr uint32_t kFileOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

// The raw system calls act on the calling thread alone, which is the point:
// the C library's wrappers would change every thread of the process.
bool ReadCapabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capget, &header, data) == 0;
}

bool WriteCapabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

DeviceOutOfReach::DeviceOutOfReach(std::string device) : Device(std::move(device)) {
  struct stat info {};
  if (stat(Device.c_str(), &info) != 0) return;
  FormerMode = info.st_mode & kModeBits;
  if (chmod(Device.c_str(), 0) != 0) return;
  ModeCleared = true;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (!ReadCapabilities(data)) return;
  FormerEffective = data[0].effective;
  data[0].effective &= ~kFileOverrides;
  Dropped = WriteCapabilities(data);
}

DeviceOutOfReach::~DeviceOutOfReach() {
  if (Dropped) {
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (ReadCapabilities(data)) {
      data[0].effective = FormerEffective;
      WriteCapabilities(data);
    }
  }
  if (ModeCleared) chmod(Device.c_str(), FormerMode);
}

} // namespace quillo::test
