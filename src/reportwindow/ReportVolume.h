// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

#include "engine/DefragDefine.h"
#include "report/DefragReport.h"

namespace quillo {

// One ticked volume as the report window reads it when it opens: the report
// of the row's engine and the engine's State at that moment. The window
// copies what it shows; the report only has to live until the tabs are
// built.
struct ReportVolume {
  const TDefragReport* Report = nullptr;
  uint8_t State = dsIdle;
};

} // namespace quillo
