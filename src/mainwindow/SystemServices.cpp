// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/SystemServices.h"

#include <iostream>

#include "mainwindow/MainForm.h"
#include "platform/PowerStatus.h"

namespace quillo {

SystemServices::SystemServices(std::vector<std::string> arguments)
    : Arguments(std::move(arguments)), Activity("/", Host), Catalog(DriveEnvironment::System()) {
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
  return services;
}

void SystemServices::WatchDevices(TMainForm& form) {
  Watch = std::make_unique<DeviceWatch>(Catalog.WatchedFile());
  QObject::connect(Watch.get(), &DeviceWatch::VolumesChanged, &form, &TMainForm::RefreshVolumes);
}

} // namespace quillo
