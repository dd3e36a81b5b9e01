// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ntfs/LibraryDevice.h"
#include "platform/ntfs/NtfsMount.h"
#include "platform/ntfs/UndoJournal.h"
#include "platform/ntfs/VolumeIdentity.h"
#include "platform/ntfs/VolumeJournalFile.h"

namespace quillo {

class ClusterOwners;

enum class CommitResult {
  Committed, // the update is on the volume
  Undone,    // it is not: the library's state must be rebuilt from the volume
  Broken,    // the volume is torn and could not be put back: the journal
             // repairs it on the next open
};

// Sectors of an update written, and synced, apart from the rest: each group
// in turn before the rest, or after it. The groups given as MFT records (in
// the record's order) keep the update sequence number they had on disk, so
// that only the sectors whose contents change are written, one by one, and
// the record passes its fixup check at every point between them.
struct WriteOrder {
  std::vector<std::vector<uint64_t>> First;
  std::vector<std::vector<uint64_t>> Last;
  std::vector<std::vector<uint64_t>> Records;
};

// A write session on a writable mount: the volume marked dirty and the undo
// journal open from Begin to End, and every update committed through the
// journal (the protocol is described in UndoJournal.cpp).
class WriteSession {
public:
  WriteSession(LibraryDevice& device, NtfsMount& mount, UndoJournal& journal,
               const VolumeIdentity& identity, uint64_t volumeJournalBytes)
      : Device(device), Mount(mount), Journal(journal), Identity(identity),
        VolumeJournalBytes(volumeJournalBytes) {}

  bool Active() const { return IsActive; }
  // Opens the journal, marks the volume dirty and creates the journal's copy
  // on the volume, in clusters that `owners` leaves free.
  bool Begin(std::string& error, const ClusterOwners* owners = nullptr);
  // Carries on a session that recovery took over from the journal, with the
  // copy on the volume when the volume still has it.
  void Resume(uint16_t flagsBefore);
  // Journals and applies the library's held writes as one update.
  CommitResult Commit(std::string& error, const WriteOrder& order = {});
  // Restores the volume's flags, frees the copy on the volume and closes
  // the journal.
  bool End(std::string& error);
  // Where the journal's copy on the volume lies, while there is one.
  const std::optional<VolumeJournalPlace>& VolumeJournal() const { return Place; }
  // The writes held so far fill half of what the copy on the volume holds:
  // time to commit them, so that the next move fits too.
  bool NearlyFull() const;
  // Inodes the library keeps open for the whole mount write on close only:
  // their changes are put with the held writes.
  void SyncSystemInodes();

private:
  uint64_t JournalBytesFor(ntfs_volume* volume) const;
  // Gives the records of `records` back the update sequence numbers they
  // have on disk, in the after images of `ranges`.
  void KeepSequenceNumbers(std::vector<ImageRange>& ranges,
                           const std::vector<std::vector<uint64_t>>& records);
  // Gives up a session that has written nothing to the volume.
  void Abandon();
  // Sectors of MFT record `record`, or of its copy in $MFTMirr (none for
  // the records it does not copy).
  std::vector<uint64_t> RecordSectors(uint64_t record, bool inMirror) const;
  // Whether a reading of the raw volume, as recovery makes it, finds the
  // copy on the volume where it is and the volume marked dirty.
  bool FindsVolumeJournal() const;

  LibraryDevice& Device;
  NtfsMount& Mount;
  UndoJournal& Journal;
  VolumeIdentity Identity;
  uint64_t VolumeJournalBytes; // 0: a share of the free space
  std::optional<VolumeJournalPlace> Place;
  bool IsActive = false;
  uint16_t FlagsBefore = 0;
};

} // namespace quillo
