// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/OpenFiles.h"

#include <cerrno>
#include <vector>

#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {
constexpr u32 kI30Length = 4;

// Closes an inode that is being let go. The library keeps an inode whose
// close failed (its changes could not be written, after a failed move):
// those changes belong to an update that is thrown away, so they are
// dropped and the inode closed again, rather than kept for ever.
void CloseLettingGo(ntfs_inode* inode) {
  if (ntfs_inode_close(inode) == 0) return;
  if (inode->nr_extents > 0)
    for (s32 i = 0; i < inode->nr_extents; ++i) NInoClearDirty(inode->extent_nis[i]);
  NInoClearDirty(inode);
  NInoAttrListClearDirty(inode);
  NInoFileNameClearDirty(inode);
  ntfs_inode_close(inode);
}

} // namespace

Handle OpenFiles::AddVolume() {
  HandleEntry entry;
  entry.IsVolume = true;
  return Handles.Add(entry);
}

Handle OpenFiles::AddFile(uint64_t record, uint16_t sequence, bool directory) {
  HandleEntry entry;
  entry.Record = record;
  entry.Sequence = sequence;
  entry.Directory = directory;
  return Handles.Add(entry);
}

Handle OpenFiles::AddInode(ntfs_volume* volume, ntfs_inode* inode) {
  uint64_t record = inode->mft_no;
  auto it = Files.find(record);
  if (it != Files.end()) {
    ntfs_inode_close(inode);
    if (!Reopen(volume, it->second)) return kInvalidHandle;
  } else {
    OpenFile file;
    file.Record = record;
    file.Sequence = le16_to_cpu(inode->mrec->sequence_number);
    file.Directory = (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
    file.Inode = inode;
    it = Files.emplace(record, file).first;
  }
  it->second.Users++;
  HandleEntry entry;
  entry.Attached = true;
  entry.Directory = it->second.Directory;
  entry.Sequence = it->second.Sequence;
  entry.Record = record;
  return Handles.Add(entry);
}

const OpenFile* OpenFiles::Holding(uint64_t record) const {
  auto it = Files.find(record);
  return it == Files.end() ? nullptr : &it->second;
}

OpenFile* OpenFiles::Attach(ntfs_volume* volume, HandleEntry& entry) {
  auto it = Files.find(entry.Record);
  if (it == Files.end()) {
    OpenFile file;
    file.Record = entry.Record;
    file.Sequence = entry.Sequence;
    file.Directory = entry.Directory;
    it = Files.emplace(entry.Record, file).first;
  }
  if (!entry.Attached) {
    entry.Attached = true;
    it->second.Users++;
  }
  return Reopen(volume, it->second) ? &it->second : nullptr;
}

bool OpenFiles::Reopen(ntfs_volume* volume, OpenFile& file) {
  if (file.Inode) return true;
  if (!volume) return false;
  ntfs_inode* inode = ntfs_inode_open(volume, MK_MREF(file.Record, 0));
  if (!inode) return false;
  const MFT_RECORD* record = inode->mrec;
  if (!(record->flags & MFT_RECORD_IN_USE) || record->base_mft_record != 0 ||
      le16_to_cpu(record->sequence_number) != file.Sequence) {
    ntfs_inode_close(inode);
    return false;
  }
  file.Inode = inode;
  file.Directory = (record->flags & MFT_RECORD_IS_DIRECTORY) != 0;
  return true;
}

bool OpenFiles::AttachStream(OpenFile& file, const std::u16string& name) {
  if (file.StreamOpened && file.StreamName == name) return true;
  if (file.Stream) ntfs_attr_close(file.Stream);
  file.Stream = nullptr;
  file.StreamOpened = false;
  if (!name.empty()) {
    // ntfschar is UTF-16LE, as the names the library handed out.
    std::vector<ntfschar> units(name.begin(), name.end());
    for (ntfschar& unit : units) unit = cpu_to_le16(unit);
    file.Stream = ntfs_attr_open(file.Inode, AT_DATA, units.data(), u32(units.size()));
  } else if (file.Directory) {
    file.Stream = ntfs_attr_open(file.Inode, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, kI30Length);
  } else {
    file.Stream = ntfs_attr_open(file.Inode, AT_DATA, AT_UNNAMED, 0);
  }
  if (!file.Stream && errno != ENOENT) return false;
  file.StreamName = name;
  file.StreamOpened = true;
  return true;
}

Handle OpenFiles::AddStream(const HandleEntry& file, const std::u16string& name) {
  HandleEntry entry;
  entry.Record = file.Record;
  entry.Sequence = file.Sequence;
  entry.Directory = file.Directory;
  entry.Stream = name;
  return Handles.Add(entry);
}

void OpenFiles::Detach(OpenFile& file) {
  if (file.Stream) ntfs_attr_close(file.Stream);
  if (file.Inode) CloseLettingGo(file.Inode);
  file.Stream = nullptr;
  file.StreamOpened = false;
  file.Inode = nullptr;
}

void OpenFiles::DetachAll() {
  for (auto& [record, file] : Files) Detach(file);
}

void OpenFiles::Close(Handle handle) {
  HandleEntry* entry = Handles.Find(handle);
  if (!entry) return;
  if (entry->Attached) {
    auto file = Files.find(entry->Record);
    if (file != Files.end() && --file->second.Users <= 0) {
      Detach(file->second);
      Files.erase(file);
    }
  }
  Handles.Remove(handle);
}

} // namespace quillo
