// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace quillo {

class TMainForm;

// The report window as the main window uses it: shown modally, centred on
// the main window, with one tab per ticked volume.
class ReportWindowHost {
public:
  virtual ~ReportWindowHost() = default;
  // Returns when the window has been closed.
  virtual void ShowModalOver(TMainForm& form) = 0;
  virtual bool IsVisible() const = 0;
};

} // namespace quillo
