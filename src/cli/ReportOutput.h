// SPDX-License-Identifier: GPL-2.0-or-later
// The summary of a run: as text for people, or as one JSON document.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/VolumeSummary.h"

namespace quillo {

struct RunFacts {
  std::string Command; // "analyze" or "defrag"
  std::string Mode;    // "fast" or "optimize"
  bool Interrupted = false;
};

// Figures, file list and (when captured) map of each volume. `colour`
// colours the map.
void WriteTextReport(std::ostream& out, const std::vector<VolumeSummary>& volumes, bool withEntries,
                     bool colour);

void WriteJsonReport(std::ostream& out, const RunFacts& facts,
                     const std::vector<VolumeSummary>& volumes);

} // namespace quillo
