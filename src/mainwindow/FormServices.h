// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QDBusConnection>

#include "engine/Clock.h"
#include "engine/UserNotifier.h"
#include "jobs/DefragThread.h"
#include "mainwindow/PowerOffWindow.h"
#include "mainwindow/ReportWindowHost.h"
#include "mainwindow/TaskLibrary.h"
#include "mainwindow/VolumeCatalog.h"
#include "mainwindow/WriteConfirmation.h"
#include "monitor/ActivityCounters.h"
#include "update/UpdateCheckServices.h"

namespace quillo {

// What the main window is built with. The program passes the machine's
// parts; tests pass their own. Everything referenced must outlive the form.
struct FormServices {
  VolumeCatalog* Catalog = nullptr;
  Clock* SystemClock = nullptr;
  ActivityCounters* Activity = nullptr;
  // Null: the engines of NTFS and FAT32.
  EngineFactory* Engines = nullptr;
  DefragThreadOptions JobOptions;
  // The mains line status for the battery guard: 0 offline, 1 online, 255
  // unknown.
  std::function<uint8_t()> AcLineStatus;
  // Null: plain message boxes.
  UserNotifier* Messages = nullptr;
  // Null: no report window (View Report does nothing).
  ReportWindowHost* Reports = nullptr;
  // Null: no power-off window.
  PowerOffWindow* PowerOff = nullptr;
  // Null: the task library libjobsched (the user's own timers and
  // autostart entries).
  TaskLibrary* Tasks = nullptr;
  // Empty: config.ini in the configuration folder, the language folder.
  std::filesystem::path SettingsFile;
  std::filesystem::path LanguageFolder;
  // Opens a link in the user's browser; null: QDesktopServices::openUrl.
  std::function<void(const std::string&)> OpenLink;
  // The bus on which the task bar entry hears of the progress; empty: the
  // session bus.
  std::function<QDBusConnection()> DesktopBus;
  // Asks the user for an image to add ("disk.img", or "disk.img#2" for a
  // partition of a disk image); empty when none was chosen. Null: the file
  // dialog, then a choice of the image's partitions when it has some.
  std::function<std::string()> ChooseImage;
  // Asks before the first write to a real block device from the manual
  // page. Null: a message box with "Do not ask again for this device".
  std::function<WriteAnswer(const std::string& question)> ConfirmWrite;
  // Asks whether to unmount a mounted volume for a command; true for yes.
  // Null: a message box.
  std::function<bool(const std::string& question)> ConfirmUnmount;
  // The command-line arguments after the program's name.
  std::vector<std::string> Arguments;
  // The update check at start (AutoCheckUpdate); no address: none.
  UpdateCheckServices UpdateCheck;
};

} // namespace quillo
