// SPDX-License-Identifier: GPL-2.0-or-later
#include "mainwindow/ManualLayout.h"

#include <algorithm>

#include "engine/DefragDefine.h"

namespace quillo {

namespace {

constexpr ButtonLayout kHidden{false, false};
constexpr ButtonLayout kDisabled{true, false};
constexpr ButtonLayout kEnabled{true, true};

// The layout while nothing can be started: GO and the method box shown
// but disabled, Pause disabled at Analyze's place.
ManualLayout Blocked(bool stopEnabled) {
  ManualLayout layout;
  layout.Analyze = kHidden;
  layout.Go = kDisabled;
  layout.MethodBox = kDisabled;
  layout.Pause = kDisabled;
  layout.Resume = kHidden;
  layout.Stop = stopEnabled ? kEnabled : kDisabled;
  layout.PauseResumePlace = StandIn::AtAnalyze;
  return layout;
}

ManualLayout ForState(uint8_t state) {
  ManualLayout layout;
  switch (state) {
  case dsAnalyzing:
  case dsAnalyzePaused:
    layout.Analyze = kDisabled;
    layout.Go = kHidden;
    layout.MethodBox = kHidden;
    layout.Pause = state == dsAnalyzing ? kEnabled : kHidden;
    layout.Resume = state == dsAnalyzePaused ? kEnabled : kHidden;
    layout.Stop = kEnabled;
    layout.ViewReportEnabled = false;
    layout.PauseResumePlace = StandIn::AtGo;
    return layout;
  case dsDefragging:
  case dsDefragPaused:
    layout.Analyze = kHidden;
    layout.Go = kDisabled;
    layout.MethodBox = kDisabled;
    layout.Pause = state == dsDefragging ? kEnabled : kHidden;
    layout.Resume = state == dsDefragPaused ? kEnabled : kHidden;
    layout.Stop = kEnabled;
    layout.ViewReportEnabled = false;
    layout.PauseResumePlace = StandIn::AtAnalyze;
    return layout;
  case dsStopping:
    layout = Blocked(true);
    layout.ViewReportEnabled = false;
    return layout;
  default: // at rest: 2, 5 or 6
    layout.Analyze = kEnabled;
    layout.Go = kEnabled;
    layout.MethodBox = kEnabled;
    layout.Pause = kHidden;
    layout.Resume = kHidden;
    layout.Stop = kDisabled;
    layout.ViewReportEnabled = state == dsAnalyzed || state == dsDefragged;
    return layout;
  }
}

} // namespace

ManualLayout DecideManualLayout(const std::vector<uint8_t>& tickedStates) {
  bool anyBusy = std::any_of(tickedStates.begin(), tickedStates.end(),
                             [](uint8_t state) { return !IsAtRest(state); });
  if (tickedStates.size() >= 2 && anyBusy) return Blocked(true); // case A
  if (tickedStates.empty()) return Blocked(false);               // case B
  return ForState(tickedStates.front());                         // case C
}

} // namespace quillo
