// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/DeviceWatch.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <string>

namespace quillo {

DeviceWatch::DeviceWatch(const std::filesystem::path& watchedFile, QObject* parent,
                         bool askDiskService)
    : QObject(parent) {
  if (Devices.IsOpen()) {
    DeviceNotifier = new QSocketNotifier(Devices.Descriptor(), QSocketNotifier::Read, this);
    connect(DeviceNotifier, &QSocketNotifier::activated, this, &DeviceWatch::DevicesReadable);
  }
  if (askDiskService) DiskService = UDisksClient::Connect();
  if (DiskService && !DiskService->WatchChanges()) DiskService.reset();
  if (DiskService) {
    DiskServiceNotifier =
        new QSocketNotifier(DiskService->Descriptor(), QSocketNotifier::Read, this);
    connect(DiskServiceNotifier, &QSocketNotifier::activated, this,
            &DeviceWatch::DiskServiceReadable);
    // The match rules are sent now, not at the first notice.
    DiskService->TakeChanges();
  }
  if (!watchedFile.empty()) {
    WatchedFile = QString::fromStdString(watchedFile.string());
    // The folder too: a file replaced by a rename, or created later, is
    // seen through its folder.
    QString folder = QFileInfo(WatchedFile).absolutePath();
    if (QFileInfo::exists(folder)) Files.addPath(folder);
    if (QFileInfo::exists(WatchedFile)) Files.addPath(WatchedFile);
    LastStamp = FileStamp();
    connect(&Files, &QFileSystemWatcher::fileChanged, this, &DeviceWatch::FileTouched);
    connect(&Files, &QFileSystemWatcher::directoryChanged, this, &DeviceWatch::FileTouched);
  }
}

void DeviceWatch::DevicesReadable() {
  bool arrivedOrLeft = false;
  std::string action;
  while (Devices.ReadEvent(action))
    if (action == "add" || action == "remove") arrivedOrLeft = true;
  if (arrivedOrLeft) Report();
}

void DeviceWatch::DiskServiceReadable() {
  if (DiskService->TakeChanges()) Report();
}

QString DeviceWatch::FileStamp() const {
  QFileInfo file(WatchedFile);
  if (!file.exists()) return QString();
  return QStringLiteral("%1 %2").arg(file.size()).arg(file.lastModified().toMSecsSinceEpoch());
}

void DeviceWatch::FileTouched() {
  // A watch on a file ends when the file is replaced; it is set again.
  if (QFileInfo::exists(WatchedFile) && !Files.files().contains(WatchedFile))
    Files.addPath(WatchedFile);
  QString stamp = FileStamp();
  if (stamp == LastStamp) return; // another file of the folder changed
  LastStamp = stamp;
  Report();
}

void DeviceWatch::Report() {
  if (ReportPending) return;
  ReportPending = true;
  QTimer::singleShot(0, this, [this] {
    ReportPending = false;
    emit VolumesChanged();
  });
}

} // namespace quillo
