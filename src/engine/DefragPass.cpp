// SPDX-License-Identifier: GPL-2.0-or-later
// The pass that moves files: the fast mode joins fragmented files, the
// optimising mode also draws rare files into the zone and directories and
// recently written files towards the front.
#include "engine/DefragClass.h"

#include <algorithm>
#include <cstdlib>

namespace quillo {

namespace {

constexpr uint32_t kMaxProgress = 100;
constexpr uint32_t kProgressScale = 10;

uint32_t FirstLcn(const FILE_INFO& file) { return file.Extents.empty() ? 0 : file.Extents[0].Lcn; }

// Signed distance on the volume, as a 32-bit difference.
int64_t Distance(uint32_t a, uint32_t b) { return std::llabs(int64_t(int32_t(a - b))); }

void MoveAll(FileList& from, FileList& to) {
  for (auto& file : from) to.push_back(std::move(file));
  from.clear();
}

} // namespace

void TDefrag::BuildWorkList(uint8_t mode, FileList& work) {
  if (mode != dmOptimize) {
    MoveAll(FragmentedList, work);
    return;
  }
  // Rare files already inside the zone stay where they are.
  std::erase_if(RareList, [this](const std::unique_ptr<FILE_INFO>& file) {
    uint32_t lcn = FirstLcn(*file);
    return ZoneStart <= lcn && lcn <= ZoneEnd;
  });
  // Computed in 64 bits so that a zone high on a large volume keeps its
  // true middle.
  ZoneMiddle = uint32_t((uint64_t(ZoneStart) + ZoneEnd) / 2);

  // From the outside of the volume towards the middle of the zone: those
  // below it upwards, those above it downwards, any exactly at it last.
  auto rank = [this](const std::unique_ptr<FILE_INFO>& file) {
    uint32_t lcn = FirstLcn(*file);
    return lcn < ZoneMiddle ? 0 : lcn > ZoneMiddle ? 1 : 2;
  };
  std::stable_sort(RareList.begin(), RareList.end(), [&](const auto& a, const auto& b) {
    int rankA = rank(a);
    int rankB = rank(b);
    if (rankA != rankB) return rankA < rankB;
    if (rankA == 0) return FirstLcn(*a) < FirstLcn(*b);
    if (rankA == 1) return FirstLcn(*a) > FirstLcn(*b);
    return false;
  });
  auto descending = [](const auto& a, const auto& b) { return FirstLcn(*a) > FirstLcn(*b); };
  std::stable_sort(DirectoryList.begin(), DirectoryList.end(), descending);
  std::stable_sort(FrequentList.begin(), FrequentList.end(), descending);

  MoveAll(FragmentedList, work);
  MoveAll(RareList, work);
  MoveAll(DirectoryList, work);
  MoveAll(FrequentList, work);
}

bool TDefrag::TryWay(TargetWay way, uint32_t clusters, PassTarget& target) {
  FREE_NODE* node = nullptr;
  switch (way) {
  case TargetWay::FastBestFit:
    node = FastFree.FindBestFit(clusters);
    break;
  case TargetWay::MiddleBestFit:
    node = MiddleFree.FindBestFit(clusters);
    break;
  case TargetWay::FrontFirstFit:
  case TargetWay::FrontLastFit:
    node = way == TargetWay::FrontFirstFit ? FrontFree.FindFirstFit(clusters)
                                           : FrontFree.FindLastFit(clusters);
    break;
  case TargetWay::BackFirstFit:
    node = BackFree.FindFirstFit(clusters);
    break;
  case TargetWay::None:
    break;
  }
  if (node == nullptr) return false;
  target.Way = way;
  target.Node = node;
  // From the front list's last fit the file goes to the extent's end, the
  // part nearest the zone.
  target.Lcn = way == TargetWay::FrontLastFit ? node->Lcn + node->Length - clusters : node->Lcn;
  return true;
}

bool TDefrag::ChooseTarget(uint8_t mode, const FILE_INFO& file, PassTarget& target) {
  uint32_t n = file.Clusters;
  auto firstOf = [&](std::initializer_list<TargetWay> ways) {
    for (TargetWay way : ways)
      if (TryWay(way, n, target)) return true;
    return false;
  };
  if (mode != dmOptimize) return firstOf({TargetWay::FastBestFit});

  uint32_t current = FirstLcn(file);
  switch (FileCategory(file)) {
  case mcFile:
    if (!firstOf({TargetWay::MiddleBestFit, TargetWay::BackFirstFit, TargetWay::FrontLastFit}))
      return false;
    // Only moves that bring the file at least as close to the zone's middle.
    return Distance(target.Lcn, ZoneMiddle) <= Distance(current, ZoneMiddle);
  case mcDirectory:
  case mcFrequentFile:
    if (!firstOf({TargetWay::FrontFirstFit, TargetWay::BackFirstFit})) return false;
    // Already lower than the best place offered.
    return current >= target.Lcn;
  default: // fragmented: always moved when any extent is large enough
    if (file.Recent)
      return firstOf({TargetWay::FrontFirstFit, TargetWay::BackFirstFit, TargetWay::MiddleBestFit});
    return firstOf({TargetWay::MiddleBestFit, TargetWay::FrontFirstFit, TargetWay::BackFirstFit});
  }
}

void TDefrag::TakeTargetClusters(const PassTarget& target, uint32_t clusters) {
  // The next reading of the bitmap puts back what is left of the extent.
  if (target.Node != nullptr)
    TakenSince.push_back({target.Node->Lcn, uint64_t(target.Node->Lcn) + target.Node->Length});
  switch (target.Way) {
  case TargetWay::FastBestFit:
    FastFree.DeleteNode(target.Node, clusters);
    break;
  case TargetWay::MiddleBestFit:
    MiddleFree.DeleteNode(target.Node, clusters);
    break;
  case TargetWay::FrontFirstFit:
    FrontFree.DeleteNode(target.Node, clusters);
    break;
  case TargetWay::BackFirstFit:
    BackFree.DeleteNode(target.Node, clusters);
    break;
  case TargetWay::FrontLastFit:
    FrontFree.DeleteNodeTail(target.Node, clusters);
    break;
  case TargetWay::None:
    break;
  }
}

void TDefrag::ShowPassProgress(uint32_t processed) {
  // In 64 bits: the product overflows 32 bits on volumes with more than
  // 429 million clusters to move. A file re-read larger than it was listed
  // could push the figure past the end; it is held at 100.
  uint64_t toMove = Report->ClustersToMove.load();
  uint64_t value = uint64_t(processed) * kProgressScale / (toMove / kProgressScale + 1);
  Map->SetProgress(uint32_t(std::min<uint64_t>(value, kMaxProgress)));
}

bool TDefrag::ProcessFile(FILE_INFO& file, const PassTarget& target, uint32_t& processed) {
  uint32_t n = file.Clusters;
  bool fragmented = file.ExtentCount > 1;
  uint8_t category = FileCategory(file);

  ShowPassProgress(processed);
  Map->SetCaption(file.Name);
  Map->PaintExtents(file, mcFragmented, false);
  Map->PaintRange(target.Lcn, n, mcTarget, true);
  Map->RemoveExtents(file, category);

  // A file that cannot be opened, moved or re-read is counted back under the
  // extents it was listed with, so that the map stays truthful as far as it
  // can know until the next analysis.
  auto endUnmovable = [&](bool refreshTarget) {
    if (fragmented) {
      file.Status = fsUnmovable;
      Report->AddEntry(file);
    }
    Map->AddExtents(file, category);
    Map->RefreshExtents(file, true);
    if (refreshTarget) Map->RefreshRange(target.Lcn, n, true);
    processed += n;
    return false;
  };
  auto opens = [&] {
    Handle handle = OpenFile(file);
    if (handle == kInvalidHandle) return false;
    Volume->CloseHandle(handle);
    return true;
  };

  if (!opens()) return endUnmovable(true);
  bool moved = MoveFileTo(file, target.Lcn);
  if (!opens()) return endUnmovable(true);
  if (moved || file.Status == fsTargetInUse) TakeTargetClusters(target, n);
  Map->RefreshExtents(file, true);
  Map->RefreshRange(target.Lcn, n, true);

  FILE_INFO listed = file;
  if (!ReadExtents(file)) {
    file = std::move(listed);
    return endUnmovable(false);
  }
  Map->AddExtents(file, FileCategory(file));
  Map->RefreshExtents(file, true);
  if (fragmented) {
    file.Status = moved ? fsDefragged : fsUnmovable;
    Report->AddEntry(file);
  }
  processed += file.Clusters;
  return true;
}

void TDefrag::Defrag(uint8_t mode) {
  Report->MarkStart();
  Map->SetProgress(0);
  Map->SetCaption(VolumeName + "\\");
  Map->RefreshRange(0, Map->TotalClusters(), true);

  // The first move opens a write session on the device; it ends with the
  // pass however the pass ends.
  struct SessionEnd {
    VolumeDevice& Device;
    ~SessionEnd() { Device.EndWriteSession(); }
  } sessionEnd{*Volume};

  FileList work;
  BuildWorkList(mode, work);
  uint32_t toMove = 0;
  for (const auto& file : work) toMove += file->Clusters;
  Report->ClustersToMove = toMove;
  Report->ClustersMoved = 0;
  uint32_t processed = 0;

  // Built afresh for the pass: the structures may hold an earlier one's.
  LastBitmap = {};
  ReadFreeSpace(mode);
  for (size_t i = 0; i < work.size(); ++i) {
    if (State.load() == dsStopping) {
      work.clear();
      Report->MarkEnd();
      Map->ResetMap();
      return;
    }
    FILE_INFO& file = *work[i];
    PassTarget target;
    if (!ChooseTarget(mode, file, target)) {
      if (file.ExtentCount > 1) {
        file.Status = fsNoSpace;
        Report->AddEntry(file);
      }
      processed += file.Clusters;
      work[i].reset();
      continue;
    }
    bool completed = ProcessFile(file, target, processed);
    work[i].reset();
    if (completed && i % kFreeSpaceRebuildInterval == 0) ReadFreeSpace(mode);
  }

  work.clear();
  Report->MarkEnd();
  Map->RefreshRange(0, Map->TotalClusters(), true);
  Map->SetProgress(0);
  Map->SetCaption(VolumeName + "\\");
  SetStateUnlessStopping(dsDefragged);
}

} // namespace quillo
