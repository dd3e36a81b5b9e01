// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/SystemServices.h"

#include <cstdlib>
#include <iostream>

#include "mainwindow/MainForm.h"
#include "platform/PowerStatus.h"
#include "update/UpdateAddress.h"

namespace quillo {

namespace {

// QUILLODEFRAG_DISCOVER=0 keeps the drive table to the volumes drives.ini
// names: a demo or a test setup then never offers a disk of the machine.
constexpr const char* kDiscoverSwitch = "QUILLODEFRAG_DISCOVER";

DriveEnvironment MachineDrives() {
  DriveEnvironment environment = DriveEnvironment::System();
  const char* discover = std::getenv(kDiscoverSwitch);
  if (discover != nullptr && std::string(discover) == "0") environment.Discover = false;
  return environment;
}

} // namespace

SystemServices::SystemServices(std::vector<std::string> arguments)
    : Arguments(std::move(arguments)), Activity("/", Host), Catalog(MachineDrives()) {
  for (const std::string& warning : Catalog.Warnings())
    std::cerr << "quillodefrag: drives.ini: " << warning << '\n';
}

FormServices SystemServices::Services() {
  FormServices services;
  services.Catalog = &Catalog;
  services.SystemClock = &Clock;
  services.Activity = &Activity;
  services.AcLineStatus = [] { return ReadAcLineStatus(); };
  services.Arguments = Arguments;
  services.UpdateCheck.Url = UpdateFileUrl();
  return services;
}

void SystemServices::WatchDevices(TMainForm& form) {
  DriveEnvironment drives = MachineDrives();
  Watch = std::make_unique<DeviceWatch>(Catalog.WatchedFile(), nullptr,
                                        drives.Discover && drives.AskDiskService);
  QObject::connect(Watch.get(), &DeviceWatch::VolumesChanged, &form, &TMainForm::RefreshVolumes);
}

} // namespace quillo
