// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/ProgramWindows.h"

namespace quillo {

ProgramWindows::ProgramWindows(const FormServices& services)
    : MainWindow(std::make_unique<TMainForm>(services)) {
  ReportWindow = std::make_unique<TReportForm>(*MainWindow->Settings, MainWindow->SystemClock(),
                                               MainWindow.get());
  ReportWindow->SetVolumeSource([this] { return MainWindow->TickedReportVolumes(); });
  ReportHost = std::make_unique<ReportFormHost>(*ReportWindow);
  MainWindow->SetReportWindow(ReportHost.get());
}

ProgramWindows::~ProgramWindows() {
  // The main window stops using the report window before it goes.
  MainWindow->SetReportWindow(nullptr);
  ReportWindow.reset();
}

} // namespace quillo
