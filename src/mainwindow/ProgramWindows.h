// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>

#include "mainwindow/FormServices.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/ReportFormHost.h"
#include "mainwindow/SwitchLangForm.h"
#include "reportwindow/ReportForm.h"

namespace quillo {

// The program's windows, created in their order: the main window (which
// lists the volumes and makes their jobs), then the report window, which
// reads the main window's settings and ticked volumes, then the language
// chooser, whose creation applies the settings to all of them.
class ProgramWindows {
public:
  explicit ProgramWindows(const FormServices& services);
  ~ProgramWindows();
  ProgramWindows(const ProgramWindows&) = delete;
  ProgramWindows& operator=(const ProgramWindows&) = delete;

  TMainForm& MainForm() { return *MainWindow; }
  TReportForm& ReportForm() { return *ReportWindow; }
  Tswitchlangform& LanguageChooser() { return *Chooser; }

private:
  std::unique_ptr<TMainForm> MainWindow;
  std::unique_ptr<TReportForm> ReportWindow;
  std::unique_ptr<ReportFormHost> ReportHost;
  std::unique_ptr<Tswitchlangform> Chooser;
};

} // namespace quillo
