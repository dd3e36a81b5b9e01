// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/MovePlan.h"

#include <algorithm>

namespace quillo {

MovePlan::MovePlan(const std::vector<ClusterRun>& runs, int64_t startVcn, int64_t count,
                   int64_t targetLcn) {
  if (count <= 0 || startVcn < 0 || targetLcn < 0) return;
  int64_t endVcn = startVcn + count;
  int64_t nextTarget = targetLcn;
  int64_t expectedVcn = runs.empty() ? 0 : runs.front().Vcn;
  std::vector<ClusterRun> split;
  for (const ClusterRun& run : runs) {
    if (run.Length <= 0 || run.Vcn != expectedVcn) return;
    expectedVcn = run.Vcn + run.Length;
    int64_t cutStart = std::clamp(startVcn, run.Vcn, run.Vcn + run.Length);
    int64_t cutEnd = std::clamp(endVcn, run.Vcn, run.Vcn + run.Length);
    if (cutStart > run.Vcn) split.push_back({run.Vcn, run.Lcn, cutStart - run.Vcn});
    if (cutEnd > cutStart) {
      int64_t length = cutEnd - cutStart;
      if (run.Lcn < 0) {
        split.push_back({cutStart, -1, length});
      } else {
        int64_t oldLcn = run.Lcn + (cutStart - run.Vcn);
        Moved.push_back({cutStart, oldLcn, nextTarget, length});
        split.push_back({cutStart, nextTarget, length});
        nextTarget += length;
        Allocated += length;
      }
    }
    if (run.Vcn + run.Length > cutEnd) {
      int64_t lcn = run.Lcn < 0 ? -1 : run.Lcn + (cutEnd - run.Vcn);
      split.push_back({cutEnd, lcn, run.Vcn + run.Length - cutEnd});
    }
  }
  // The range must lie inside the runlist.
  if (runs.empty() || startVcn < runs.front().Vcn || endVcn > expectedVcn) {
    Moved.clear();
    Allocated = 0;
    return;
  }
  Result = Join(split);
  IsValid = true;
}

std::vector<ClusterRun> MovePlan::Join(const std::vector<ClusterRun>& runs) {
  std::vector<ClusterRun> joined;
  JoinInto(runs, joined);
  return joined;
}

void MovePlan::JoinInto(std::span<const ClusterRun> runs, std::vector<ClusterRun>& out) {
  size_t first = out.size();
  for (const ClusterRun& run : runs) {
    if (run.Length == 0) continue;
    if (out.size() > first) {
      ClusterRun& last = out.back();
      bool bothHoles = last.Lcn < 0 && run.Lcn < 0;
      bool continues = last.Lcn >= 0 && run.Lcn >= 0 && last.Lcn + last.Length == run.Lcn;
      if (bothHoles || continues) {
        last.Length += run.Length;
        continue;
      }
    }
    out.push_back(run);
  }
}

} // namespace quillo
