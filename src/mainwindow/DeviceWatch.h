// SPDX-License-Identifier: GPL-2.0-or-later
// Tells the window when volumes may have come or gone: block devices added
// or removed (udev), and the drive table's file changed. Notices that come
// together are reported once, on the window thread.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSocketNotifier>

#include <filesystem>
#include <memory>

#include "platform/BlockDeviceMonitor.h"
#include "platform/UDisksClient.h"

namespace quillo {

class DeviceWatch final : public QObject {
  Q_OBJECT

public:
  // `watchedFile` may be empty (no file to watch). `askDiskService`: the
  // notices of UDisks2 on the system bus count too, where it answers.
  DeviceWatch(const std::filesystem::path& watchedFile, QObject* parent = nullptr,
              bool askDiskService = false);

  bool WatchesDevices() const { return Devices.IsOpen(); }
  // The desktop's disk service tells of devices, mounts and file systems.
  bool WatchesDiskService() const { return DiskService != nullptr; }

signals:
  void VolumesChanged();

private:
  void DevicesReadable();
  void FileTouched();
  void Report();
  // The watched file's existence, size and time, to tell its own changes
  // from those of its neighbours.
  QString FileStamp() const;

  void DiskServiceReadable();

  BlockDeviceMonitor Devices;
  QSocketNotifier* DeviceNotifier = nullptr;
  std::unique_ptr<UDisksClient> DiskService;
  QSocketNotifier* DiskServiceNotifier = nullptr;
  QFileSystemWatcher Files;
  QString WatchedFile;
  QString LastStamp;
  bool ReportPending = false;
};

} // namespace quillo
