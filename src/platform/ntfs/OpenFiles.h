// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <unordered_map>

#include "platform/ntfs/HandleTable.h"
#include "platform/ntfs/OpenFile.h"

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

// The NTFS device's handles and the library's inodes behind them. Most
// handles of an analysis need no inode (the catalog answers for them); a
// handle that does shares its file's one inode with the other handles of the
// record, because libntfs-3g forbids two inodes of one record.
class OpenFiles {
public:
  Handle AddVolume();
  // A handle for a file known to be in use with that sequence number.
  Handle AddFile(uint64_t record, uint16_t sequence, bool directory);
  // A handle that takes over an inode the caller opened.
  Handle AddInode(ntfs_volume* volume, ntfs_inode* inode);

  HandleEntry* Find(Handle handle) { return Handles.Find(handle); }
  // The open file of a record, when a handle holds one.
  const OpenFile* Holding(uint64_t record) const;
  // The handle's file with its inode open on the current mount; null when
  // the record is no longer the file the handle was opened for.
  OpenFile* Attach(ntfs_volume* volume, HandleEntry& entry);
  // Opens the stream a handle stands for (null when the file has none): the
  // file's own with an empty name, else that named data stream. One stream
  // is open at a time; asking for another closes it.
  static bool AttachStream(OpenFile& file, const std::u16string& name = {});
  // A handle on a named data stream of a file known to be in use.
  Handle AddStream(const HandleEntry& file, const std::u16string& name);
  // Lets go of every inode (before a remount, or before the library looks a
  // path up); they are opened again when next needed.
  void DetachAll();
  void Close(Handle handle);

private:
  bool Reopen(ntfs_volume* volume, OpenFile& file);
  static void Detach(OpenFile& file);

  HandleTable Handles;
  std::unordered_map<uint64_t, OpenFile> Files; // by record number
};

} // namespace quillo
