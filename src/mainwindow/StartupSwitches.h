// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace quillo {

class TMainForm;

// Whether the command line asks to start in the tray: exactly one argument,
// "/StartUp" or "/Schedule" in any case.
bool StartsInTray(const std::vector<std::string>& arguments);

// ApplyStartupSwitches: shows the main window unless the command line asks
// to start in the tray. Where the desktop has no tray, such a start shows
// the window minimised instead, so that it can be reached.
void ApplyStartupSwitches(TMainForm& form, const std::vector<std::string>& arguments);

} // namespace quillo
