// SPDX-License-Identifier: GPL-2.0-or-later
// The layout rule of the manual page: which command buttons show, which are
// enabled, and where Pause and Resume stand, decided from the states of the
// ticked volumes' jobs.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quillo {

struct ButtonLayout {
  bool Visible = false;
  bool Enabled = false;
  friend bool operator==(const ButtonLayout&, const ButtonLayout&) = default;
};

// Where Pause or Resume takes its place.
enum class StandIn : uint8_t { AtGo, AtAnalyze };

struct ManualLayout {
  ButtonLayout Analyze;
  ButtonLayout Go;
  ButtonLayout MethodBox;
  ButtonLayout Pause;
  ButtonLayout Resume;
  ButtonLayout Stop;
  // Empty: View Report keeps its enabled state.
  std::optional<bool> ViewReportEnabled;
  // Where the shown one of Pause and Resume stands.
  StandIn PauseResumePlace = StandIn::AtAnalyze;

  friend bool operator==(const ManualLayout&, const ManualLayout&) = default;
};

// `tickedStates`: the job state of every ticked row, in row order.
ManualLayout DecideManualLayout(const std::vector<uint8_t>& tickedStates);

} // namespace quillo
