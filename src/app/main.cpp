// SPDX-License-Identifier: GPL-2.0-or-later
// quillodefrag: the desktop program. A second start hands its request to the
// instance that runs and ends; the first instance creates its windows and
// runs the message loop.
#include <QApplication>

#include <string>
#include <vector>

#include "mainwindow/ProgramWindows.h"
#include "mainwindow/SingleInstance.h"
#include "mainwindow/StartupSwitches.h"
#include "mainwindow/SystemServices.h"
#include "power/LogindPowerOff.h"
#include "power/Shutdown.h"

int main(int argc, char** argv) {
  using namespace quillo;
  std::vector<std::string> arguments(argv + 1, argv + argc);

  // (1) Another instance takes the request: end before any window exists.
  SingleInstance instance;
  if (instance.SignalRunningInstance(arguments)) return 0;

  // (2) The application object.
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quillodefrag"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quillo Defrag"));
  QApplication::setQuitOnLastWindowClosed(true);

  // (3) The windows: the main window, the report window and the language
  // chooser, then the power-off window last.
  SystemServices system(arguments);
  ProgramWindows windows(system.Services());
  TMainForm& mainForm = windows.MainForm();
  if (!mainForm.StartedWithVolumes()) return 1;
  LogindPowerOff powerOff;
  TShutdown shutdown(powerOff);
  mainForm.SetPowerOffWindow(&shutdown);
  QObject::connect(&instance, &SingleInstance::MessageReceived, &mainForm,
                   &TMainForm::InstanceMessageReceived);
  instance.Listen();
  system.WatchDevices(mainForm);

  // (4) Shown, or started in the tray by the system's own switches.
  ApplyStartupSwitches(mainForm, arguments);

  // (5) The message loop.
  int exitCode = QApplication::exec();
  mainForm.SetPowerOffWindow(nullptr);
  return exitCode;
}
