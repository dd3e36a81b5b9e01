// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

typedef struct _ntfs_inode ntfs_inode;
typedef struct _ntfs_attr ntfs_attr;

namespace quillo {

// A file opened through the device: its record, and the library's inode and
// stream while the current mount holds them (they are let go whenever the
// volume is remounted, and opened again on the next use).
struct OpenFile {
  uint64_t Record = 0;
  uint16_t Sequence = 0;
  bool Directory = false;
  ntfs_inode* Inode = nullptr;
  // The stream last asked for (StreamName): the unnamed $DATA or a
  // directory's $I30 index allocation when the name is empty, else the named
  // $DATA; null when the file has none.
  ntfs_attr* Stream = nullptr;
  std::u16string StreamName;
  bool StreamOpened = false;
  int Users = 0;
};

} // namespace quillo
