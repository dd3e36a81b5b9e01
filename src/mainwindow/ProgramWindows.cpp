// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/ProgramWindows.h"

#include <QPointer>

namespace quillo {

ProgramWindows::ProgramWindows(const FormServices& services)
    : MainWindow(std::make_unique<TMainForm>(services)) {
  ReportWindow = std::make_unique<TReportForm>(*MainWindow->Settings, MainWindow->SystemClock(),
                                               MainWindow.get());
  ReportWindow->SetVolumeSource([this] { return MainWindow->TickedReportVolumes(); });
  ReportHost = std::make_unique<ReportFormHost>(*ReportWindow);
  MainWindow->SetReportWindow(ReportHost.get());
  // Translated after the main window, before the chooser.
  MainWindow->Language().AddTranslatedWindow([report = QPointer<TReportForm>(ReportWindow.get())] {
    if (report) report->Translate();
  });
  Chooser = std::make_unique<Tswitchlangform>(*MainWindow);
  MainWindow->SetLanguageChooser(Chooser.get());
}

ProgramWindows::~ProgramWindows() {
  // The main window stops using the report window before it goes.
  MainWindow->SetLanguageChooser(nullptr);
  Chooser.reset();
  MainWindow->SetReportWindow(nullptr);
  ReportWindow.reset();
}

} // namespace quillo
