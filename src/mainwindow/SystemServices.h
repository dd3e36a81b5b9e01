// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mainwindow/DeviceWatch.h"
#include "mainwindow/DriveTableCatalog.h"
#include "mainwindow/FormServices.h"
#include "monitor/ProcActivityCounters.h"
#include "platform/LinuxHostFacts.h"
#include "platform/SystemClock.h"

namespace quillo {

class TMainForm;

// The running machine's side of the main window: the drive table, the
// clock, the activity counters, the power status and the device notices.
class SystemServices {
public:
  explicit SystemServices(std::vector<std::string> arguments);

  FormServices Services();
  // RefreshVolumes on every device arrival or removal and every change of
  // drives.ini.
  void WatchDevices(TMainForm& form);

private:
  std::vector<std::string> Arguments;
  SystemClock Clock;
  LinuxHostFacts Host;
  ProcActivityCounters Activity;
  DriveTableCatalog Catalog;
  std::unique_ptr<DeviceWatch> Watch;
};

} // namespace quillo
