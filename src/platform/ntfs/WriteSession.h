// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "platform/ntfs/LibraryDevice.h"
#include "platform/ntfs/NtfsMount.h"
#include "platform/ntfs/UndoJournal.h"
#include "platform/ntfs/VolumeIdentity.h"

namespace quillo {

enum class CommitResult {
  Committed, // the update is on the volume
  Undone,    // it is not: the library's state must be rebuilt from the volume
  Broken,    // the volume is torn and could not be put back: the journal
             // repairs it on the next open
};

// A write session on a writable mount: the volume marked dirty and the undo
// journal open from Begin to End, and every update committed through the
// journal (the protocol is described in UndoJournal.cpp).
class WriteSession {
public:
  WriteSession(LibraryDevice& device, NtfsMount& mount, UndoJournal& journal,
               const VolumeIdentity& identity)
      : Device(device), Mount(mount), Journal(journal), Identity(identity) {}

  bool Active() const { return IsActive; }
  // Opens the journal and marks the volume dirty.
  bool Begin(std::string& error);
  // Carries on a session that recovery took over from the journal.
  void Resume(uint16_t flagsBefore);
  // Journals and applies the library's held writes as one update.
  CommitResult Commit(std::string& error);
  // Restores the volume's flags and closes the journal.
  bool End(std::string& error);
  // Inodes the library keeps open for the whole mount write on close only:
  // their changes are put with the held writes.
  void SyncSystemInodes();

private:

  LibraryDevice& Device;
  NtfsMount& Mount;
  UndoJournal& Journal;
  VolumeIdentity Identity;
  bool IsActive = false;
  uint16_t FlagsBefore = 0;
};

} // namespace quillo
