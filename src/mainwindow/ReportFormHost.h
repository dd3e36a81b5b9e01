// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "mainwindow/ReportWindowHost.h"
#include "reportwindow/ReportForm.h"

namespace quillo {

// The report window TReportForm behind the main window's View Report.
class ReportFormHost final : public ReportWindowHost {
public:
  explicit ReportFormHost(TReportForm& form) : Form(form) {}
  void ShowModalOver(TMainForm& form) override;
  bool IsVisible() const override { return Form.isVisible(); }

private:
  TReportForm& Form;
};

} // namespace quillo
