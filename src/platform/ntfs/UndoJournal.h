// SPDX-License-Identifier: GPL-2.0-or-later
// The undo journal that makes moves on an NTFS volume crash-safe. The
// protocol is described at the top of UndoJournal.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/ImageRange.h"
#include "platform/ntfs/VolumeIdentity.h"

namespace quillo {

struct JournalRecovery {
  enum class Result {
    Clean,    // no journal, or one that asks for nothing
    Resumed,  // an interrupted session was taken over: restore the flags, end it
    Mismatch, // the journal does not fit the volume: nothing was written
    Failed,   // the journal or the volume could not be read or written
  };
  Result Outcome = Result::Clean;
  std::string Message;       // why, for Mismatch and Failed; what was done, for Resumed
  uint16_t FlagsBefore = 0;  // Resumed: the volume flags to restore
};

class UndoJournal {
public:
  UndoJournal(std::filesystem::path folder, StorageOpener opener);
  ~UndoJournal();
  UndoJournal(const UndoJournal&) = delete;
  UndoJournal& operator=(const UndoJournal&) = delete;

  std::filesystem::path PathFor(const VolumeIdentity& identity) const;
  bool Exists(const VolumeIdentity& identity) const;

  // Brings the volume back to the state of a finished update and, when a
  // session was interrupted, takes it over (Resumed). Needs the volume
  // writable only when there is something to roll back. With `volumeCopy`
  // the journal is read from the copy on the volume, whatever the folder
  // holds, and the session taken over goes on in a new journal in the
  // folder. Without `mayRollBack` (a volume not marked dirty, which no
  // unfinished session leaves) a journal that asks for writes is refused as
  // out of date.
  JournalRecovery Recover(BlockStorage& volume, const VolumeIdentity& identity,
                          BlockStorage* volumeCopy = nullptr, bool mayRollBack = true);

  // From now on every record is written to this copy on the volume too,
  // starting with the session's, and made durable with it.
  void AttachVolumeCopy(std::unique_ptr<BlockStorage> copy);
  void DetachVolumeCopy() { Copy.reset(); }
  bool HasVolumeCopy() const { return static_cast<bool>(Copy); }
  // The journal's bytes for an update of `sectors` sectors in `ranges` runs.
  static uint64_t UpdateBytes(uint64_t sectors, uint64_t ranges);
  // The largest update the copy on the volume holds; 0 without a copy.
  uint64_t UpdateCapacity() const;

  bool BeginSession(const VolumeIdentity& identity, uint16_t flagsBefore, std::string& error);
  bool InSession() const { return static_cast<bool>(File); }
  // Makes the update durable in the journal before any of it is written to
  // the volume.
  bool RecordUpdate(const std::vector<ImageRange>& ranges, std::string& error);
  // The update recorded last is complete on the volume.
  bool MarkDone(std::string& error);
  bool EndSession(std::string& error);

private:
  bool WriteRecord(uint64_t offset, uint16_t kind, uint64_t sequence,
                   const std::vector<uint8_t>& payload, bool sync, std::string& error);
  bool SyncFolder(std::string& error) const;

  std::filesystem::path Folder;
  StorageOpener Opener;
  std::unique_ptr<BlockStorage> File; // the open session's journal
  std::unique_ptr<BlockStorage> Copy; // its copy on the volume
  bool CopyNeedsSession = false;
  std::vector<uint8_t> SessionPayload;
  std::filesystem::path FilePath;
  uint64_t Sequence = 0;       // number of the update recorded last
  uint64_t UpdateEnd = 0;      // where DONE of that update goes
  // Reused from record to record (see EncodeRecord).
  std::vector<uint8_t> UpdatePayload;
  std::vector<uint8_t> RecordBytes;
};

} // namespace quillo
