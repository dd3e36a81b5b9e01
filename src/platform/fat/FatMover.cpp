// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatMover.h"

#include <algorithm>
#include <cstring>

#include "platform/fat/ClusterRuns.h"

namespace quillo::fat {

namespace {

// Data moves in blocks of up to this size: one write per block, since the
// target is contiguous. Small enough to stay in the processor's cache
// between its read and its write: larger blocks copied slower.
constexpr size_t kCopyBlockBytes = 2 << 20;
constexpr uint32_t kDotSlot = 0;
constexpr uint32_t kDotDotSlot = 1;

bool HasShortName(const DirEntry& entry, const char* name) {
  return std::memcmp(entry.Name, name, kShortNameLength) == 0 &&
         (entry.Attr & kAttrLongNameMask) != kAttrLongName;
}

constexpr char kDotName[] = ".          ";
constexpr char kDotDotName[] = "..         ";

} // namespace

FatMover::FatMover(BlockDevice& device, const FatLayout& layout, FatTable& table,
                   FatNamespace& names, FatWriteSession& session, FatCommitQueue& queue)
    : Device(device), Layout(layout), Table(table), Names(names), Session(session), Queue(queue) {}

bool FatMover::ReadEntry(uint64_t offset, DirEntry& entry) {
  return Device.ReadAt(offset, &entry, sizeof(entry));
}

DirEntry FatMover::WithCluster(const EntrySpot& spot, uint32_t cluster) {
  DirEntry entry = spot.Entry;
  entry.SetFirstCluster(cluster);
  return entry;
}

NtStatus FatMover::MakePlan(const MoveSubject& subject, int64_t startingVcn, int64_t startingLcn,
                            uint32_t count, Plan& plan) {
  if (subject.IsRoot) return kStatusAccessDenied;
  if (count == 0 || startingVcn < 0 || startingLcn < 0 || subject.FirstCluster == 0)
    return kStatusInvalidParameter;
  if (Table.ReadChain(subject.FirstCluster, plan.Chain) != ChainError::None)
    return kStatusFileCorruptError;
  if (uint64_t(startingVcn) + count > plan.Chain.size()) return kStatusInvalidParameter;
  if (uint64_t(startingLcn) + count > Layout.ClusterCount) return kStatusInvalidParameter;

  plan.Begin = size_t(startingVcn);
  plan.End = plan.Begin + count;
  plan.Target = uint32_t(startingLcn) + kFirstDataCluster;
  for (uint32_t i = 0; i < count; ++i)
    if (!Table.IsFree(plan.Target + i)) return kStatusAlreadyCommitted;

  plan.SwitchEntry = plan.Begin == 0;
  if (plan.SwitchEntry) {
    DirectoryRead parent = Names.ReadDirectory(subject.ParentCluster);
    if (!parent.Data) return kStatusFileCorruptError;
    plan.Entry.Offset = parent.Data->SlotOffset(Layout, subject.Slot);
    if (plan.Entry.Offset == 0 || !ReadEntry(plan.Entry.Offset, plan.Entry.Entry))
      return kStatusFileCorruptError;
    const DirEntry& entry = plan.Entry.Entry;
    if ((entry.Attr & kAttrLongNameMask) == kAttrLongName ||
        entry.FirstCluster() != subject.FirstCluster)
      return kStatusFileCorruptError;
  }

  plan.MovesDirectoryStart = subject.IsDirectory && plan.Begin == 0;
  if (plan.MovesDirectoryStart) {
    // Subdirectories name their parent in "..": those that name this one
    // follow it.
    DirectoryRead self = Names.ReadDirectory(subject.FirstCluster);
    if (!self.Data) return kStatusFileCorruptError;
    for (const FatDirEntry& child : self.Data->Parsed.Entries) {
      if (!child.IsDirectory() || child.IsDot || child.IsDotDot) continue;
      if (!Layout.IsDataCluster(child.FirstCluster)) continue;
      EntrySpot spot;
      spot.Offset = Layout.ClusterOffset(child.FirstCluster) + kDotDotSlot * kDirEntryBytes;
      if (!ReadEntry(spot.Offset, spot.Entry)) return kStatusFileCorruptError;
      if (HasShortName(spot.Entry, kDotDotName) && spot.Entry.FirstCluster() == subject.FirstCluster)
        plan.ChildDotDots.push_back(spot);
    }
  }
  return kStatusSuccess;
}

bool FatMover::CopyRuns(const Plan& plan, size_t from, size_t to) {
  uint64_t target = Layout.ClusterOffset(plan.Target + uint32_t(from - plan.Begin));
  for (const ClusterRun& run : ToRuns(plan.Chain, from, to)) {
    size_t bytes = size_t(run.Count) * Layout.BytesPerCluster;
    if (!Device.CopyWithin(Layout.ClusterOffset(run.First), target, bytes)) return false;
    target += bytes;
  }
  return true;
}

NtStatus FatMover::CopyData(const Plan& plan) {
  uint32_t clustersPerBlock =
      uint32_t(std::max<size_t>(1, kCopyBlockBytes / Layout.BytesPerCluster));
  size_t total = plan.End - plan.Begin;
  for (size_t done = 0; done < total;) {
    size_t clusters = std::min<size_t>(clustersPerBlock, total - done);
    size_t from = plan.Begin + done;
    // A device that copies without bringing the bytes through our memory
    // (the kernel, within an image) copies run by run, unless this is a
    // directory's first block (its "." changes). Should that fail, the way
    // through our buffer below tells a source that cannot be read from a
    // target that cannot be written. Other devices (block devices) read
    // the runs together into the buffer and write it as one.
    bool asIs = done != 0 || !plan.MovesDirectoryStart;
    if (asIs && Device.CopiesWithin() && CopyRuns(plan, from, from + clusters)) {
      done += clusters;
      continue;
    }
    CopyBuffer.resize(size_t(clusters) * Layout.BytesPerCluster);
    if (!ReadChainData(Device, Layout, plan.Chain, from, from + clusters, CopyBuffer.data()))
      return kStatusUnsuccessful;
    if (done == 0 && plan.MovesDirectoryStart) {
      // The copy's own "." names its new first cluster.
      DirEntry dot;
      std::memcpy(&dot, CopyBuffer.data() + kDotSlot * kDirEntryBytes, sizeof(dot));
      if (HasShortName(dot, kDotName) && dot.FirstCluster() == plan.Chain[0]) {
        dot.SetFirstCluster(plan.Target);
        std::memcpy(CopyBuffer.data() + kDotSlot * kDirEntryBytes, &dot, sizeof(dot));
      }
    }
    uint64_t offset = Layout.ClusterOffset(plan.Target + uint32_t(done));
    if (!Device.WriteAt(offset, CopyBuffer.data(), clusters * Layout.BytesPerCluster)) {
      Session.Fail();
      return kStatusUnsuccessful;
    }
    done += clusters;
  }
  return kStatusSuccess;
}

void FatMover::WriteNewChain(const Plan& plan) {
  uint32_t count = uint32_t(plan.End - plan.Begin);
  uint32_t after = plan.End < plan.Chain.size() ? plan.Chain[plan.End] : kFatEndOfChain;
  for (uint32_t i = 0; i < count; ++i)
    Table.Set(plan.Target + i, i + 1 < count ? plan.Target + i + 1 : after);
}

void FatMover::SwitchLink(const Plan& plan) {
  if (plan.SwitchEntry)
    Queue.SwitchEntry(plan.Entry.Offset, WithCluster(plan.Entry, plan.Target));
  else
    Queue.SwitchFatLink(plan.Chain[plan.Begin - 1], plan.Target);
  for (const EntrySpot& spot : plan.ChildDotDots)
    Queue.FollowEntry(spot.Offset, WithCluster(spot, plan.Target));
}

void FatMover::FreeOld(const Plan& plan) {
  for (size_t i = plan.Begin; i < plan.End; ++i) Queue.Release(plan.Chain[i]);
}

NtStatus FatMover::Move(const MoveSubject& subject, int64_t startingVcn, int64_t startingLcn,
                        uint32_t count, MoveOutcome& outcome) {
  Plan plan;
  NtStatus status = MakePlan(subject, startingVcn, startingLcn, count, plan);
  if (status != kStatusSuccess) return status;
  status = Session.Begin();
  if (status != kStatusSuccess) return status;
  auto failed = [&] {
    Session.Fail();
    return kStatusUnsuccessful;
  };
  // The target may hold clusters a pending move released: the disk still
  // gives them to the old file until that move is committed.
  if (Queue.Quarantined(plan.Target, count) && !Queue.Commit()) return failed();

  // 1. The data, into clusters nothing refers to yet.
  status = CopyData(plan);
  if (status != kStatusSuccess) {
    // What is pending is made durable all the same.
    if (Session.IsOpen() && !Queue.Commit()) Session.Fail();
    return status;
  }
  // 2. Their chain entries, still unreachable; written with the next flush.
  WriteNewChain(plan);
  // 3. and 4., in the queue.
  SwitchLink(plan);
  FreeOld(plan);
  Queue.Moved(uint64_t(count) * Layout.BytesPerCluster);
  UnsentBytes += uint64_t(count) * Layout.BytesPerCluster;
  if (UnsentBytes >= kWriteBackBytes) {
    Device.StartWriteBack();
    UnsentBytes = 0;
  }

  // The volume reads as moved from here on, whatever the commit below does.
  if (subject.IsDirectory) Names.Forget(subject.FirstCluster);
  if (plan.SwitchEntry) {
    if (subject.IsDirectory)
      Names.Forget(subject.ParentCluster);
    else
      Names.FollowFirstCluster(subject.ParentCluster, subject.Slot, plan.Target);
  }
  outcome.Applied = true;
  outcome.NewFirstCluster = plan.Begin == 0 ? plan.Target : plan.Chain[0];
  if (Queue.Due() && !Queue.Commit()) return failed();
  return kStatusSuccess;
}

} // namespace quillo::fat
