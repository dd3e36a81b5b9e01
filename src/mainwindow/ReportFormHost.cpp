// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/ReportFormHost.h"

namespace quillo {

// The window asks the main window for the ticked volumes itself, through
// the volume source it was given at start.
void ReportFormHost::ShowModalOver(TMainForm& /*form*/) { Form.ShowModal(); }

} // namespace quillo
