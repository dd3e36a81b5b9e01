// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/BlockDeviceMonitor.h"

#include <libudev.h>

#include <poll.h>

namespace quillo {

namespace {
constexpr const char* kEventSource = "udev";
constexpr const char* kSubsystem = "block";
} // namespace

BlockDeviceMonitor::BlockDeviceMonitor() {
  Context = udev_new();
  if (Context == nullptr) return;
  udev_monitor* monitor = udev_monitor_new_from_netlink(Context, kEventSource);
  if (monitor == nullptr) return;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor, kSubsystem, nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    udev_monitor_unref(monitor);
    return;
  }
  Monitor = monitor;
}

BlockDeviceMonitor::~BlockDeviceMonitor() {
  if (Monitor != nullptr) udev_monitor_unref(Monitor);
  if (Context != nullptr) udev_unref(Context);
}

int BlockDeviceMonitor::Descriptor() const {
  return Monitor == nullptr ? -1 : udev_monitor_get_fd(Monitor);
}

bool BlockDeviceMonitor::ReadEvent(std::string& action) {
  if (Monitor == nullptr) return false;
  pollfd waiting{Descriptor(), POLLIN, 0};
  if (::poll(&waiting, 1, 0) <= 0 || (waiting.revents & POLLIN) == 0) return false;
  udev_device* device = udev_monitor_receive_device(Monitor);
  if (device == nullptr) return false;
  const char* text = udev_device_get_action(device);
  action = text == nullptr ? "" : text;
  udev_device_unref(device);
  return true;
}

} // namespace quillo
