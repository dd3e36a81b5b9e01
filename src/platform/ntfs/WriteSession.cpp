// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/WriteSession.h"

#include <cerrno>
#include <cstring>

#include "platform/ntfs/LibraryLog.h"
#include "platform/ntfs/NtfsLibrary.h"
#include "platform/ntfs/VolumeFlags.h"

namespace quillo {


void WriteSession::SyncSystemInodes() {
  ntfs_volume* volume = Mount.Volume();
  for (ntfs_inode* inode : {volume->mft_ni, volume->lcnbmp_ni, volume->vol_ni, volume->mftmirr_ni})
    if (inode && NInoDirty(inode)) ntfs_inode_sync(inode);
}

bool WriteSession::Begin(std::string& error) {
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
  return Commit(error) == CommitResult::Committed;
}

void WriteSession::Resume(uint16_t flagsBefore) {
  FlagsBefore = flagsBefore;
  IsActive = true;
}

CommitResult WriteSession::Commit(std::string& error) {
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
  if (!Journal.RecordUpdate(ranges, error)) return CommitResult::Undone;

  bool applied = true;
  for (const ImageRange& range : ranges)
    applied = applied && storage.WriteAt(range.Offset, range.After.data(), range.After.size());
  applied = applied && storage.Sync();
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
  if (le16_to_cpu(volume->flags) != FlagsBefore) {
    LibraryLog::Reset();
    std::string why;
    if (!WriteVolumeFlags(volume, FlagsBefore, why)) {
      error = "the volume's flags cannot be restored: " + why;
      Device.Pending().Clear();
      return false;
    }
  }
  if (Commit(error) != CommitResult::Committed) return false;
  if (!Journal.EndSession(error)) return false;
  IsActive = false;
  return true;
}

} // namespace quillo
