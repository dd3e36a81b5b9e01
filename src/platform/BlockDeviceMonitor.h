// SPDX-License-Identifier: GPL-2.0-or-later
// Notices of block devices coming and going, from udev. The window waits for
// the descriptor to become readable on its own event loop and then reads the
// events, so nothing here blocks or starts a thread.
#pragma once

#include <string>

struct udev;
struct udev_monitor;

namespace quillo {

class BlockDeviceMonitor {
public:
  // Listens to udev's events of the "block" subsystem. A system without
  // udev (a container) leaves the monitor closed.
  BlockDeviceMonitor();
  ~BlockDeviceMonitor();
  BlockDeviceMonitor(const BlockDeviceMonitor&) = delete;
  BlockDeviceMonitor& operator=(const BlockDeviceMonitor&) = delete;

  bool IsOpen() const { return Monitor != nullptr; }
  // Readable when an event waits; -1 when closed.
  int Descriptor() const;
  // Takes one waiting event without blocking: true with its action ("add",
  // "remove", "change", ...), false when none waits.
  bool ReadEvent(std::string& action);

private:
  struct udev* Context = nullptr;
  struct udev_monitor* Monitor = nullptr;
};

} // namespace quillo
