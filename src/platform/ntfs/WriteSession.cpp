// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/WriteSession.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "platform/ntfs/ByteOrder.h"
#include "platform/ntfs/ClusterOwners.h"
#include "platform/ntfs/ExtentStorage.h"
#include "platform/ntfs/LibraryLog.h"
#include "platform/ntfs/NtfsLibrary.h"
#include "platform/ntfs/RawMftScan.h"
#include "platform/ntfs/VolumeFlags.h"

namespace quillo {

namespace {

constexpr uint64_t kMftRecord = FILE_MFT;
constexpr uint64_t kVolumeRecord = FILE_Volume;
constexpr uint16_t kDirtyFlag = 0x0001;
// The copy on the volume takes a share of the free space, within bounds:
// large enough for any group of moves, small enough not to crowd them.
constexpr uint64_t kLargestVolumeJournal = uint64_t(16) << 20;
constexpr uint64_t kSmallestVolumeJournal = uint64_t(256) << 10;
constexpr uint64_t kFreeSpaceShare = 16;

bool Overlaps(const ImageRange& range, const ByteExtent& extent) {
  return range.Offset < extent.Offset + extent.Length &&
         extent.Offset < range.Offset + range.Before.size();
}

// MFT record header.
constexpr uint8_t kRecordMagic[4] = {'F', 'I', 'L', 'E'};
constexpr size_t kFixupOffsetAt = 0x04;
constexpr size_t kFixupCountAt = 0x06;
constexpr size_t kFixupBytes = 2;

// Rewrites `after` with the update sequence number of `before`: the same
// record contents, and every sector whose contents did not change equal to
// its before image. False (and nothing changed) when either is not a record
// with a sound fixup array.
bool KeepSequenceNumber(const std::vector<uint8_t>& before, std::vector<uint8_t>& after) {
  auto sound = [](const std::vector<uint8_t>& record) {
    if (record.size() < kSectorBytes || std::memcmp(record.data(), kRecordMagic, sizeof(kRecordMagic)) != 0)
      return false;
    size_t offset = LoadLe16(&record[kFixupOffsetAt]);
    size_t count = LoadLe16(&record[kFixupCountAt]);
    if (count != record.size() / kSectorBytes + 1 || offset + count * kFixupBytes > kSectorBytes)
      return false;
    for (size_t i = 1; i < count; ++i)
      if (std::memcmp(&record[i * kSectorBytes - kFixupBytes], &record[offset], kFixupBytes) != 0)
        return false;
    return true;
  };
  if (!sound(before) || !sound(after) ||
      LoadLe16(&before[kFixupOffsetAt]) != LoadLe16(&after[kFixupOffsetAt]))
    return false;
  size_t offset = LoadLe16(&after[kFixupOffsetAt]);
  size_t count = LoadLe16(&after[kFixupCountAt]);
  for (size_t i = 1; i < count; ++i)
    std::memcpy(&after[i * kSectorBytes - kFixupBytes], &before[offset], kFixupBytes);
  std::memcpy(&after[offset], &before[offset], kFixupBytes);
  return true;
}

bool SameExtents(const std::vector<ByteExtent>& a, const std::vector<ByteExtent>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const ByteExtent& x, const ByteExtent& y) {
                      return x.Offset == y.Offset && x.Length == y.Length;
                    });
}

} // namespace

uint64_t WriteSession::JournalBytesFor(ntfs_volume* volume) const {
  if (VolumeJournalBytes) return VolumeJournalBytes;
  uint64_t clusterBytes = volume->cluster_size;
  uint64_t free = uint64_t(std::max<s64>(volume->free_clusters, 0)) * clusterBytes;
  uint64_t bytes = std::clamp(free / kFreeSpaceShare, kSmallestVolumeJournal, kLargestVolumeJournal);
  return (bytes + clusterBytes - 1) / clusterBytes * clusterBytes;
}

void WriteSession::SyncSystemInodes() {
  ntfs_volume* volume = Mount.Volume();
  for (ntfs_inode* inode : {volume->mft_ni, volume->lcnbmp_ni, volume->vol_ni, volume->mftmirr_ni})
    if (inode && NInoDirty(inode)) ntfs_inode_sync(inode);
}

std::vector<uint64_t> WriteSession::RecordSectors(uint64_t record, bool inMirror) const {
  ntfs_volume* volume = Mount.Volume();
  if (!inMirror) return VolumeJournalFile::RecordSectors(volume, record);
  std::vector<uint64_t> sectors;
  if (int64_t(record) >= volume->mftmirr_size || !volume->mftmirr_na) return sectors;
  uint64_t start = record * volume->mft_record_size;
  uint64_t clusterBytes = volume->cluster_size;
  for (uint64_t at = start; at < start + volume->mft_record_size; at += kSectorBytes) {
    LCN lcn = ntfs_attr_vcn_to_lcn(volume->mftmirr_na, VCN(at / clusterBytes));
    if (lcn >= 0) sectors.push_back(uint64_t(lcn) * clusterBytes + at % clusterBytes);
  }
  return sectors;
}

bool WriteSession::FindsVolumeJournal() const {
  RawMftScan scan;
  std::string ignored;
  RawMftScan::Found found;
  uint16_t flags = 0;
  return Place && scan.Open(Device.GetStorage(), Identity, ignored) &&
         scan.ReadVolumeFlags(flags) && (flags & kDirtyFlag) &&
         scan.FindRootFile(kVolumeJournalName, found) && found.Record == Place->Record &&
         SameExtents(found.Extents, Place->Extents);
}

void WriteSession::Abandon() {
  Device.Pending().Clear();
  std::string ignored;
  Journal.EndSession(ignored);
  Place.reset();
  IsActive = false;
}

bool WriteSession::Begin(std::string& error, const ClusterOwners* owners) {
  if (IsActive) return true;
  ntfs_volume* volume = Mount.Volume();
  if (!Mount.Writable()) {
    error = "the volume is not mounted for writing";
    return false;
  }
  uint16_t flags = le16_to_cpu(volume->flags);
  if (!Journal.BeginSession(Identity, flags, error)) return false;
  FlagsBefore = flags;
  IsActive = true;
  LibraryLog::Reset();
  std::string why;
  if (!WriteVolumeFlags(volume, uint16_t(flags | le16_to_cpu(VOLUME_IS_DIRTY)), why)) {
    error = "the volume cannot be marked dirty: " + why;
    Device.Pending().Clear();
    return false;
  }
  // The first update marks the volume dirty and creates the journal's copy
  // on the volume; until it is applied, nothing on the volume has changed.
  VolumeJournalPlace place;
  if (!VolumeJournalFile::Create(volume, JournalBytesFor(volume), owners, place, why)) {
    error = "the recovery journal cannot be made on the volume: " + why;
    Abandon();
    return false;
  }
  uint64_t clusterBytes = volume->cluster_size;
  for (const ByteExtent& extent : place.Extents) {
    bool taken = owners && !owners->AreFree(int64_t(extent.Offset / clusterBytes),
                                            int64_t(extent.Length / clusterBytes));
    bool written = false;
    for (const ImageRange& range : Device.Pending().ChangedRanges())
      written = written || Overlaps(range, extent);
    if (taken || written) {
      error = "the recovery journal on the volume would lie in clusters in use";
      Abandon();
      return false;
    }
  }
  Place = place;
  Journal.AttachVolumeCopy(std::make_unique<ExtentStorage>(Device.GetStorage(), place.Extents));
  // $Volume's record (and its copy in $MFTMirr) first: from then on the
  // volume is marked dirty, which is what makes recovery look for the copy.
  // Then the copy's record, its sectors last to first, so that it is in use
  // only when whole; then $MFT's record, should the MFT have grown for it.
  // The rest after that.
  WriteOrder order;
  // $MFTMirr's copies keep their numbers as the MFT's do, so that both stay
  // equal.
  order.Records = {RecordSectors(kVolumeRecord, false), RecordSectors(kVolumeRecord, true),
                   RecordSectors(place.Record, false), RecordSectors(kMftRecord, false),
                   RecordSectors(kMftRecord, true)};
  std::vector<uint64_t> own = order.Records[2];
  std::reverse(own.begin(), own.end());
  order.First = {order.Records[0], order.Records[1], own, order.Records[3]};
  if (Commit(error, order) != CommitResult::Committed) return false;
  if (!FindsVolumeJournal()) {
    // Recovery could not find it: no session goes on without it.
    std::string ignored;
    End(ignored);
    error = "the recovery journal made on the volume cannot be found again by reading the MFT";
    return false;
  }
  return true;
}

void WriteSession::Resume(uint16_t flagsBefore) {
  FlagsBefore = flagsBefore;
  IsActive = true;
  // The copy is found as recovery found it, by reading the MFT: no folder
  // lists it. After a rollback of the update that made it, there is none.
  Place.reset();
  RawMftScan scan;
  RawMftScan::Found found;
  std::string ignored;
  if (scan.Open(Device.GetStorage(), Identity, ignored) &&
      scan.FindRootFile(kVolumeJournalName, found)) {
    Place = VolumeJournalPlace{found.Record, found.Extents, {}};
    Journal.AttachVolumeCopy(std::make_unique<ExtentStorage>(Device.GetStorage(), found.Extents));
  }
}

bool WriteSession::NearlyFull() const {
  if (!Journal.HasVolumeCopy()) return false;
  uint64_t held = Device.Pending().HeldSectors();
  return UndoJournal::UpdateBytes(held, held) > Journal.UpdateCapacity() / 2;
}

void WriteSession::KeepSequenceNumbers(std::vector<ImageRange>& ranges,
                                       const std::vector<std::vector<uint64_t>>& records) {
  std::map<uint64_t, std::pair<ImageRange*, size_t>> held; // sector: its range, where in it
  for (ImageRange& range : ranges)
    for (size_t at = 0; at < range.After.size(); at += kSectorBytes) held[range.Offset + at] = {&range, at};
  for (const std::vector<uint64_t>& sectors : records) {
    std::vector<uint8_t> before(sectors.size() * kSectorBytes);
    std::vector<uint8_t> after(before.size());
    bool changed = false;
    for (size_t i = 0; i < sectors.size(); ++i) {
      auto found = held.find(sectors[i]);
      uint8_t* into = &before[i * kSectorBytes];
      if (found != held.end()) {
        auto [range, at] = found->second;
        std::memcpy(into, &range->Before[at], kSectorBytes);
        std::memcpy(&after[i * kSectorBytes], &range->After[at], kSectorBytes);
        changed = true;
      } else if (Device.GetStorage().ReadAt(sectors[i], into, kSectorBytes) != kSectorBytes) {
        changed = false;
        break;
      } else {
        std::memcpy(&after[i * kSectorBytes], into, kSectorBytes);
      }
    }
    if (!changed || !KeepSequenceNumber(before, after)) continue;
    for (size_t i = 0; i < sectors.size(); ++i) {
      auto found = held.find(sectors[i]);
      if (found == held.end()) continue;
      auto [range, at] = found->second;
      std::memcpy(&range->After[at], &after[i * kSectorBytes], kSectorBytes);
    }
  }
}

CommitResult WriteSession::Commit(std::string& error, const WriteOrder& order) {
  SyncSystemInodes();
  PendingWrites& pending = Device.Pending();
  std::vector<ImageRange> ranges = pending.ChangedRanges();
  pending.Clear();
  if (ranges.empty()) return CommitResult::Committed;
  BlockStorage& storage = Device.GetStorage();
  // Data copied into free clusters reaches the disk before anything points
  // to it; nothing on disk does yet, so it needs no undo image.
  if (Device.TakeUnsyncedData() && !storage.Sync()) {
    error = std::string("the moved data cannot be written: ") + std::strerror(errno);
    return CommitResult::Undone;
  }
  KeepSequenceNumbers(ranges, order.Records);
  if (!Journal.RecordUpdate(ranges, error)) return CommitResult::Undone;

  // The after image of every sector written apart from the rest.
  std::set<uint64_t> apart;
  for (const auto* groups : {&order.First, &order.Last})
    for (const std::vector<uint64_t>& group : *groups) apart.insert(group.begin(), group.end());
  std::map<uint64_t, const uint8_t*> afterOf;
  for (const ImageRange& range : ranges)
    for (uint64_t at = 0; at < range.After.size(); at += kSectorBytes)
      if (apart.contains(range.Offset + at) &&
          std::memcmp(&range.Before[at], &range.After[at], kSectorBytes) != 0)
        afterOf[range.Offset + at] = &range.After[at];

  bool applied = true;
  auto writeGroups = [&](const std::vector<std::vector<uint64_t>>& groups) {
    for (const std::vector<uint64_t>& group : groups) {
      bool wrote = false;
      for (uint64_t sector : group) {
        auto found = afterOf.find(sector);
        if (found == afterOf.end()) continue;
        applied = applied && storage.WriteAt(sector, found->second, kSectorBytes);
        wrote = true;
      }
      if (wrote) applied = applied && storage.Sync();
    }
  };
  writeGroups(order.First);
  for (const ImageRange& range : ranges) {
    // Runs of sectors that are not written apart.
    uint64_t end = range.After.size();
    for (uint64_t at = 0; at < end && applied;) {
      if (apart.contains(range.Offset + at)) {
        at += kSectorBytes;
        continue;
      }
      uint64_t runEnd = at;
      while (runEnd < end && !apart.contains(range.Offset + runEnd)) runEnd += kSectorBytes;
      applied = storage.WriteAt(range.Offset + at, &range.After[at], runEnd - at);
      at = runEnd;
    }
  }
  applied = applied && storage.Sync();
  writeGroups(order.Last);
  if (applied) {
    std::string ignored; // a missing DONE is settled by recovery
    Journal.MarkDone(ignored);
    return CommitResult::Committed;
  }
  error = std::string("writing the volume failed: ") + std::strerror(errno);
  for (const ImageRange& range : ranges)
    if (!storage.WriteAt(range.Offset, range.Before.data(), range.Before.size()))
      return CommitResult::Broken;
  return storage.Sync() ? CommitResult::Undone : CommitResult::Broken;
}

bool WriteSession::End(std::string& error) {
  if (!IsActive) return true;
  ntfs_volume* volume = Mount.Volume();
  if (!Mount.Writable()) {
    error = "the volume is not mounted for writing";
    return false;
  }
  LibraryLog::Reset();
  if (le16_to_cpu(volume->flags) != FlagsBefore) {
    std::string why;
    if (!WriteVolumeFlags(volume, FlagsBefore, why)) {
      error = "the volume's flags cannot be restored: " + why;
      Device.Pending().Clear();
      return false;
    }
  }
  // The last update frees the copy on the volume: the rest first, then the
  // copy's record, first sector first, so that it is out of use before it
  // is torn, and $Volume's record last (its copy in $MFTMirr before it): the
  // volume stays marked dirty for as long as anything else is unfinished.
  WriteOrder order;
  if (Place) {
    order.Records.push_back(RecordSectors(Place->Record, false));
    order.Last.push_back(order.Records.back());
    std::string why;
    if (!VolumeJournalFile::Remove(volume, *Place, why)) {
      error = "the recovery journal on the volume cannot be freed: " + why;
      Device.Pending().Clear();
      return false;
    }
  }
  for (bool inMirror : {true, false}) {
    order.Records.push_back(RecordSectors(kVolumeRecord, inMirror));
    order.Last.push_back(order.Records.back());
  }
  if (Commit(error, order) != CommitResult::Committed) return false;
  Place.reset();
  if (!Journal.EndSession(error)) return false;
  IsActive = false;
  return true;
}

} // namespace quillo
