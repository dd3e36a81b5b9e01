// SPDX-License-Identifier: GPL-2.0-or-later
//
// The undo journal of one NTFS volume
// ===================================
//
// A move rewrites several metadata structures of the volume: the cluster
// bitmap, the file's MFT records (base record, extent records, attribute list)
// and sometimes $MFT, its bitmap and $MFTMirr. A power cut between two of
// those writes would leave the file system torn. libntfs-3g keeps no journal
// of its own, and $LogFile belongs to Windows, so this program keeps one, in
// two copies:
//   - in the configuration folder: <configuration folder>/journal/<UUID>,
//     UUID being the volume's serial number in 16 hex digits;
//   - on the volume itself, so that any later open repairs it, whoever runs
//     it and wherever: a hidden system file, QuilloDefrag.journal, that no
//     folder lists (its record names the root as its parent), with clusters
//     allocated when it is created and written directly from then on (no
//     metadata changes to keep it).
// Both copies receive the same records, and both are durable before the
// volume is touched.
//
// Updates. The library never writes the volume directly: its writes are held
// in memory (PendingWrites) while it carries out a group of moves. The
// group's *update* is the set of sectors its moves changed, each with its
// image before and after. File data is the one exception: it is copied into
// clusters that are free on disk, which nothing on disk refers to until the
// update that points to them is applied, and those copies are synced before
// the update is recorded. The clusters the moves leave stay in use until the
// update is applied.
//
// A write session (from the first move of a pass to its end):
//   S1. Create the folder's journal and write SESSION: the volume's identity
//       (serial number, bytes per sector and per cluster, total sectors, $MFT
//       and $MFTMirr positions) and its flags before the session. fsync the
//       journal and its folder.
//   S2. The first update sets VOLUME_IS_DIRTY and creates the file on the
//       volume. Its clusters are free on disk until the update is applied,
//       so SESSION and UPDATE(1) are written to them first (U1). It is
//       applied in this order, with a sync after each step: $Volume's record
//       (and its $MFTMirr copy), so the volume is marked dirty; the file's
//       record, last sector first, so that it is in use only when whole;
//       $MFT's record, should the MFT have grown; then the rest (the
//       bitmaps; no folder's index changes). Recovery looks for the file on volumes marked dirty only.
//   S3. Every group of moves (up to a bound of moves and bytes, and half of
//       what the file holds) is one update.
//   S4. The last update restores the flags of S1 and frees the file (its
//       clusters, its bit in the MFT's bitmap, its record put back as it
//       was), in this order: the rest; the file's record, first sector
//       first, so that it is out of use before it is torn; $Volume's record, its $MFTMirr
//       copy first. Then overwrite the folder's update slot with CLOSED,
//       fsync, delete the folder's journal, fsync the folder.
//   A cut between the first write of $Volume's record and the file's record
//   in use, or between the file's record out of use and the last write of
//   $Volume's record, leaves a volume marked dirty (and its $MFTMirr copy of
//   that record differing from the MFT's) with nothing else changed: the
//   folder's journal repairs it; anywhere else it is refused as not shut
//   down cleanly, and chkdsk (or ntfsfix -d) ends that.
//
// One update n:
//   U1. Write UPDATE(n), all before and after images, into the update slot
//       right after SESSION (replacing update n-1), in both copies. fsync
//       both. No sector of update n reaches the volume before this point.
//   U2. Write the after images to the volume. fsync the volume.
//   U3. Write DONE(n) right after UPDATE(n). It is not synced on its own: a
//       missing DONE is settled by comparing images (R6), and U1 of the next
//       update makes it durable.
//   If U2 fails, the before images are written back at once and the library's
//   state is thrown away and rebuilt from the volume.
//
// Records: a 32-byte header (magic "QDJL", version, kind, update number,
// payload length, CRC-32 of the payload, CRC-32 of the header) and the
// payload. Reading stops at the first record that fails a check, so a torn
// record is never used. Update numbers only grow within a journal, so a stale
// DONE left behind a shorter UPDATE never matches it.
//
// Recovery runs on every open of the volume, on the raw storage and before the
// library mounts it (a torn volume may not mount at all). A volume marked
// dirty is searched for the file (a raw reading of the MFT: a record in use
// so named, whose name gives the root as its parent); when found, its copy is the journal read,
// whatever the folder holds; otherwise the folder's.
//   R1. No journal: nothing to do. (A volume that is marked dirty without a
//       journal of ours is refused by the caller: Windows did not shut down
//       cleanly, or chkdsk is due.)
//   R2. SESSION unreadable: it was synced before the session's first volume
//       write, so the session wrote nothing. Delete the journal. (The copy on
//       the volume always holds it: there, this is a journal not ours.)
//   R3. SESSION's identity must equal the boot sector's. Otherwise stop with a
//       mismatch; nothing is written.
//   R4. CLOSED in the update slot: the session ended. Delete the journal.
//   R5. UPDATE(n) followed by DONE(n): every sector must hold its after image.
//   R6. UPDATE(n) without DONE(n): every sector must hold its before or its
//       after image (sector writes are atomic; a torn multi-sector write
//       leaves some of each). All after: the update completed, roll forward
//       (nothing to write). Otherwise roll back: write every before image and
//       fsync the volume.
//   In R5 and R6 a sector holding anything else means that the volume changed
//   after the interruption (chkdsk, a restored or replaced image) or is not
//   the one the journal was written for: stop with a mismatch, write nothing,
//   and say so. On a volume not marked dirty, which no unfinished session
//   leaves, a folder's journal that would need anything written, or finds a
//   sector holding neither image, is out of date (its session was finished
//   since from the copy on the volume, or the volume was restored): the
//   same mismatch, nothing written.
//   R7. The interrupted session is taken over, its update numbering going on
//       from n (in a new folder journal when it was read from the volume):
//       the caller mounts the volume, restores the flags of SESSION and
//       frees the file, if it is still in use, through a last update (S4;
//       its record is cleared, its former contents being unknown here).
//   A file left in use on a volume marked clean (another tool cleared the
//   flag after a cut) is settled before the next session begins, as a
//   folder's journal on a clean volume is.
//   A power cut during recovery leaves the condition of R6 true (the sectors
//   hold before or after images), and recovery runs again on the next open.
//
#include "platform/ntfs/UndoJournal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include "platform/ntfs/ByteOrder.h"
#include "platform/ntfs/Crc32.h"

namespace quillo {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'D', 'J', 'L'};
constexpr uint16_t kVersion = 1;

enum RecordKind : uint16_t {
  kSessionRecord = 1,
  kUpdateRecord = 2,
  kDoneRecord = 3,
  kClosedRecord = 4,
};

// Record header layout.
constexpr size_t kHeaderBytes = 32;
constexpr size_t kMagicAt = 0;
constexpr size_t kVersionAt = 4;
constexpr size_t kKindAt = 6;
constexpr size_t kSequenceAt = 8;
constexpr size_t kPayloadBytesAt = 16;
constexpr size_t kPayloadCrcAt = 24;
constexpr size_t kHeaderCrcAt = 28;

// SESSION payload layout.
constexpr size_t kSessionBytes = 48;
constexpr size_t kSerialAt = 0;
constexpr size_t kTotalSectorsAt = 8;
constexpr size_t kMftLcnAt = 16;
constexpr size_t kMftMirrLcnAt = 24;
constexpr size_t kBytesPerSectorAt = 32;
constexpr size_t kBytesPerClusterAt = 36;
constexpr size_t kFlagsBeforeAt = 40;

// UPDATE payload: a count, then per range its offset, length and images.
constexpr size_t kUpdateHeadBytes = 8;
constexpr size_t kRangeHeadBytes = 16;

// The update slot follows SESSION.
constexpr uint64_t kUpdateSlot = kHeaderBytes + kSessionBytes;

// A journal larger than this is not one of ours.
constexpr uint64_t kLargestJournal = uint64_t(1) << 32;

struct Record {
  uint16_t Kind = 0;
  uint64_t Sequence = 0;
  const uint8_t* Payload = nullptr;
  uint64_t PayloadBytes = 0;
  uint64_t End = 0; // offset after the record
};

// Into `bytes`, whose capacity is reused: an update of many MiB then costs
// no fresh pages for each record.
void EncodeRecord(uint16_t kind, uint64_t sequence, const std::vector<uint8_t>& payload,
                  std::vector<uint8_t>& bytes) {
  bytes.assign(kHeaderBytes, 0);
  std::memcpy(&bytes[kMagicAt], kMagic, sizeof(kMagic));
  StoreLe16(&bytes[kVersionAt], kVersion);
  StoreLe16(&bytes[kKindAt], kind);
  StoreLe64(&bytes[kSequenceAt], sequence);
  StoreLe64(&bytes[kPayloadBytesAt], payload.size());
  StoreLe32(&bytes[kPayloadCrcAt], Crc32(payload.data(), payload.size()));
  StoreLe32(&bytes[kHeaderCrcAt], Crc32(bytes.data(), kHeaderCrcAt));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
}

// A record that passes every check, or false.
bool DecodeRecord(const std::vector<uint8_t>& file, uint64_t offset, Record& out) {
  if (offset + kHeaderBytes > file.size()) return false;
  const uint8_t* head = file.data() + offset;
  if (std::memcmp(head + kMagicAt, kMagic, sizeof(kMagic)) != 0) return false;
  if (LoadLe32(head + kHeaderCrcAt) != Crc32(head, kHeaderCrcAt)) return false;
  if (LoadLe16(head + kVersionAt) != kVersion) return false;
  uint64_t payloadBytes = LoadLe64(head + kPayloadBytesAt);
  if (payloadBytes > file.size() - offset - kHeaderBytes) return false;
  const uint8_t* payload = head + kHeaderBytes;
  if (LoadLe32(head + kPayloadCrcAt) != Crc32(payload, payloadBytes)) return false;
  out.Kind = LoadLe16(head + kKindAt);
  out.Sequence = LoadLe64(head + kSequenceAt);
  out.Payload = payload;
  out.PayloadBytes = payloadBytes;
  out.End = offset + kHeaderBytes + payloadBytes;
  return true;
}

std::vector<uint8_t> EncodeSession(const VolumeIdentity& identity, uint16_t flagsBefore) {
  std::vector<uint8_t> payload(kSessionBytes, 0);
  StoreLe64(&payload[kSerialAt], identity.SerialNumber);
  StoreLe64(&payload[kTotalSectorsAt], identity.TotalSectors);
  StoreLe64(&payload[kMftLcnAt], identity.MftLcn);
  StoreLe64(&payload[kMftMirrLcnAt], identity.MftMirrLcn);
  StoreLe32(&payload[kBytesPerSectorAt], identity.BytesPerSector);
  StoreLe32(&payload[kBytesPerClusterAt], identity.BytesPerCluster);
  StoreLe16(&payload[kFlagsBeforeAt], flagsBefore);
  return payload;
}

void DecodeSession(const Record& record, VolumeIdentity& identity, uint16_t& flagsBefore) {
  const uint8_t* p = record.Payload;
  identity.SerialNumber = LoadLe64(p + kSerialAt);
  identity.TotalSectors = LoadLe64(p + kTotalSectorsAt);
  identity.MftLcn = LoadLe64(p + kMftLcnAt);
  identity.MftMirrLcn = LoadLe64(p + kMftMirrLcnAt);
  identity.BytesPerSector = LoadLe32(p + kBytesPerSectorAt);
  identity.BytesPerCluster = LoadLe32(p + kBytesPerClusterAt);
  flagsBefore = LoadLe16(p + kFlagsBeforeAt);
}

// Into `payload`, whose capacity is reused, as EncodeRecord's.
void EncodeUpdate(const std::vector<ImageRange>& ranges, std::vector<uint8_t>& payload) {
  payload.assign(kUpdateHeadBytes, 0);
  StoreLe32(&payload[0], uint32_t(ranges.size()));
  for (const ImageRange& range : ranges) {
    size_t at = payload.size();
    payload.resize(at + kRangeHeadBytes, 0);
    StoreLe64(&payload[at], range.Offset);
    StoreLe32(&payload[at + 8], uint32_t(range.Before.size()));
    payload.insert(payload.end(), range.Before.begin(), range.Before.end());
    payload.insert(payload.end(), range.After.begin(), range.After.end());
  }
}

bool DecodeUpdate(const Record& record, std::vector<ImageRange>& ranges) {
  if (record.PayloadBytes < kUpdateHeadBytes) return false;
  uint32_t count = LoadLe32(record.Payload);
  uint64_t at = kUpdateHeadBytes;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + kRangeHeadBytes > record.PayloadBytes) return false;
    ImageRange range;
    range.Offset = LoadLe64(record.Payload + at);
    uint64_t length = LoadLe32(record.Payload + at + 8);
    at += kRangeHeadBytes;
    if (length == 0 || length % kSectorBytes != 0 || range.Offset % kSectorBytes != 0 ||
        at + 2 * length > record.PayloadBytes)
      return false;
    range.Before.assign(record.Payload + at, record.Payload + at + length);
    at += length;
    range.After.assign(record.Payload + at, record.Payload + at + length);
    at += length;
    ranges.push_back(std::move(range));
  }
  return at == record.PayloadBytes;
}


bool SyncDirectory(const std::filesystem::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

} // namespace

UndoJournal::UndoJournal(std::filesystem::path folder, StorageOpener opener)
    : Folder(std::move(folder)), Opener(std::move(opener)) {}

UndoJournal::~UndoJournal() = default;

std::filesystem::path UndoJournal::PathFor(const VolumeIdentity& identity) const {
  return Folder / identity.Uuid();
}

bool UndoJournal::Exists(const VolumeIdentity& identity) const {
  std::error_code ignored;
  return std::filesystem::exists(PathFor(identity), ignored);
}

bool UndoJournal::SyncFolder(std::string& error) const {
  if (SyncDirectory(Folder)) return true;
  error = "cannot sync the journal folder " + Folder.string() + ": " + std::strerror(errno);
  return false;
}

bool UndoJournal::WriteRecord(uint64_t offset, uint16_t kind, uint64_t sequence,
                              const std::vector<uint8_t>& payload, bool sync,
                              std::string& error) {
  EncodeRecord(kind, sequence, payload, RecordBytes);
  const std::vector<uint8_t>& bytes = RecordBytes;
  if (!File->WriteAt(offset, bytes.data(), bytes.size()) || (sync && !File->Sync())) {
    error = "cannot write the journal " + FilePath.string() + ": " + std::strerror(errno);
    return false;
  }
  if (!Copy || kind == kClosedRecord) return true;
  // The copy on the volume never holds CLOSED: the update that ends the
  // session frees it.
  std::vector<uint8_t> session;
  if (CopyNeedsSession) EncodeRecord(kSessionRecord, 0, SessionPayload, session);
  if ((!session.empty() && !Copy->WriteAt(0, session.data(), session.size())) ||
      !Copy->WriteAt(offset, bytes.data(), bytes.size()) || (sync && !Copy->Sync())) {
    error = std::string("cannot write the journal on the volume: ") + std::strerror(errno);
    return false;
  }
  CopyNeedsSession = false;
  return true;
}

void UndoJournal::AttachVolumeCopy(std::unique_ptr<BlockStorage> copy) {
  Copy = std::move(copy);
  CopyNeedsSession = true;
}

uint64_t UndoJournal::UpdateBytes(uint64_t sectors, uint64_t ranges) {
  return kHeaderBytes + kUpdateHeadBytes + ranges * kRangeHeadBytes + 2 * sectors * kSectorBytes;
}

uint64_t UndoJournal::UpdateCapacity() const {
  // The slot after SESSION holds the update and its DONE.
  if (!Copy || Copy->Size() < kUpdateSlot + kHeaderBytes) return 0;
  return Copy->Size() - kUpdateSlot - kHeaderBytes;
}

bool UndoJournal::BeginSession(const VolumeIdentity& identity, uint16_t flagsBefore,
                               std::string& error) {
  std::error_code failure;
  std::filesystem::create_directories(Folder, failure);
  if (failure) {
    error = "cannot create the journal folder " + Folder.string() + ": " + failure.message();
    return false;
  }
  FilePath = PathFor(identity);
  File = Opener(FilePath, StorageMode::CreateReadWrite, error);
  if (!File) return false;
  Sequence = 0;
  UpdateEnd = kUpdateSlot;
  if (!File->Resize(0)) {
    error = "cannot reset the journal " + FilePath.string() + ": " + std::strerror(errno);
    File.reset();
    return false;
  }
  SessionPayload = EncodeSession(identity, flagsBefore);
  if (!WriteRecord(0, kSessionRecord, 0, SessionPayload, true, error) ||
      !SyncFolder(error)) {
    File.reset();
    return false;
  }
  return true;
}

bool UndoJournal::RecordUpdate(const std::vector<ImageRange>& ranges, std::string& error) {
  if (!File) {
    error = "no write session is open";
    return false;
  }
  EncodeUpdate(ranges, UpdatePayload);
  const std::vector<uint8_t>& payload = UpdatePayload;
  if (Copy && kHeaderBytes + payload.size() > UpdateCapacity()) {
    error = "the update (" + std::to_string(payload.size()) +
            " bytes) does not fit the journal on the volume";
    return false;
  }
  ++Sequence;
  if (!WriteRecord(kUpdateSlot, kUpdateRecord, Sequence, payload, true, error)) return false;
  UpdateEnd = kUpdateSlot + kHeaderBytes + payload.size();
  return true;
}

bool UndoJournal::MarkDone(std::string& error) {
  if (!File) {
    error = "no write session is open";
    return false;
  }
  return WriteRecord(UpdateEnd, kDoneRecord, Sequence, {}, false, error);
}

bool UndoJournal::EndSession(std::string& error) {
  if (!File) return true;
  if (!WriteRecord(kUpdateSlot, kClosedRecord, Sequence + 1, {}, true, error)) return false;
  File.reset();
  Copy.reset();
  std::error_code failure;
  std::filesystem::remove(FilePath, failure);
  if (failure) {
    error = "cannot remove the journal " + FilePath.string() + ": " + failure.message();
    return false;
  }
  return SyncFolder(error);
}

JournalRecovery UndoJournal::Recover(BlockStorage& volume, const VolumeIdentity& identity,
                                     BlockStorage* volumeCopy, bool mayRollBack) {
  JournalRecovery result;
  std::filesystem::path path = PathFor(identity);
  std::error_code failure;
  bool fromCopy = volumeCopy != nullptr;
  if (!fromCopy && !std::filesystem::exists(path, failure)) return result; // R1
  std::string name = fromCopy ? "on the volume (the hidden file QuilloDefrag.journal in its root "
                                "folder)"
                              : path.string();

  auto fail = [&](JournalRecovery::Result outcome, std::string message) {
    result.Outcome = outcome;
    result.Message = std::move(message);
    return result;
  };
  auto mismatch = [&](const std::string& why) {
    return fail(JournalRecovery::Result::Mismatch,
                "An interrupted run left the recovery journal " + name +
                    ", but the volume does not match it: " + why +
                    ". Nothing was written. If the volume was checked or restored since "
                    "(chkdsk, a backup), " +
                    (fromCopy ? std::string("run chkdsk /f from Windows, and delete that file "
                                            "if chkdsk puts it in a folder (no folder lists it)")
                              : std::string("delete the journal file")) +
                    "; otherwise put back the volume the journal belongs to.");
  };
  auto removeJournal = [&] {
    // The copy on the volume is written only after the folder's SESSION and
    // never holds CLOSED: neither case is one of ours there.
    if (fromCopy) return mismatch("it holds no session that is under way");
    std::filesystem::remove(path, failure);
    SyncDirectory(Folder);
    return result;
  };

  // Only an unfinished session leaves the volume marked dirty. A journal
  // that finds a volume that is not in any state but from just before or
  // just after its update is out of date: its session was finished since
  // (from the copy on the volume, by another configuration folder), or the
  // volume was restored. Nothing is written, and the journal is kept.
  auto outOfDate = [&] {
    if (fromCopy)
      return mismatch("it is no longer marked dirty: another tool marked it clean after the "
                      "interrupted run (ntfsfix -d, for one) without finishing that run's last "
                      "move, or the volume was restored");
    return mismatch("it is not marked dirty, so no run on it was left unfinished: the "
                    "interrupted run was repaired since (from the journal on the volume, by "
                    "another user or configuration folder), or the volume was restored");
  };

  std::string error;
  std::unique_ptr<BlockStorage> file;
  if (!fromCopy) {
    file = Opener(path, StorageMode::ReadOnly, error);
    if (!file) return fail(JournalRecovery::Result::Failed, "The recovery journal: " + error);
  }
  BlockStorage& source = fromCopy ? *volumeCopy : *file;
  uint64_t size = source.Size();
  if (size > kLargestJournal)
    return fail(JournalRecovery::Result::Failed,
                "The recovery journal " + name + " is too large to be one of ours.");
  std::vector<uint8_t> bytes(size);
  if (source.ReadAt(0, bytes.data(), bytes.size()) != int64_t(size))
    return fail(JournalRecovery::Result::Failed,
                "The recovery journal " + name + " cannot be read.");
  file.reset();

  Record session;
  if (!DecodeRecord(bytes, 0, session) || session.Kind != kSessionRecord ||
      session.PayloadBytes != kSessionBytes)
    return removeJournal(); // R2

  VolumeIdentity recorded;
  uint16_t flagsBefore = 0;
  DecodeSession(session, recorded, flagsBefore);
  if (recorded.SerialNumber != identity.SerialNumber) // R3
    return mismatch("the journal was written for the volume with serial number " +
                    recorded.Uuid() + ", and this volume's serial number is " + identity.Uuid());
  if (!(recorded == identity))
    return mismatch("the volume's geometry or the position of its MFT has changed");

  Record update;
  bool haveUpdate = DecodeRecord(bytes, kUpdateSlot, update);
  if (haveUpdate && update.Kind == kClosedRecord) return removeJournal(); // R4

  uint64_t lastSequence = 0;
  std::string done;
  if (haveUpdate && update.Kind == kUpdateRecord) {
    std::vector<ImageRange> ranges;
    if (!DecodeUpdate(update, ranges))
      return fail(JournalRecovery::Result::Failed,
                  "The recovery journal " + name + " holds an update it cannot parse.");
    lastSequence = update.Sequence;
    Record mark;
    bool finished = DecodeRecord(bytes, update.End, mark) && mark.Kind == kDoneRecord &&
                    mark.Sequence == update.Sequence;

    // Compare every sector with its images.
    bool allAfter = true;
    bool anyAfter = false;
    std::vector<uint8_t> current;
    for (const ImageRange& range : ranges) {
      current.resize(range.Before.size());
      if (volume.ReadAt(range.Offset, current.data(), current.size()) != int64_t(current.size()))
        return fail(JournalRecovery::Result::Failed,
                    "The volume cannot be read at byte " + std::to_string(range.Offset) + ".");
      for (size_t at = 0; at < current.size(); at += kSectorBytes) {
        bool isAfter = std::memcmp(&current[at], &range.After[at], kSectorBytes) == 0;
        bool isBefore = std::memcmp(&current[at], &range.Before[at], kSectorBytes) == 0;
        uint64_t where = range.Offset + at;
        if (!mayRollBack && !isAfter && (finished || !isBefore)) return outOfDate();
        if (finished && !isAfter) // R5
          return mismatch("the sector at byte " + std::to_string(where) +
                          " no longer holds what the last completed update wrote");
        if (!isAfter && !isBefore) // R6
          return mismatch("the sector at byte " + std::to_string(where) +
                          " holds neither its contents from before nor from after the "
                          "interrupted update");
        allAfter = allAfter && isAfter;
        anyAfter = anyAfter || !isBefore;
      }
    }
    if (!finished && !allAfter && anyAfter && !mayRollBack) return outOfDate();
    if (!finished && !allAfter && !anyAfter && !mayRollBack) {
      done = "The interrupted move had not reached the volume.";
    } else if (!finished && !allAfter) {
      if (!volume.Writable())
        return fail(JournalRecovery::Result::Failed,
                    "An interrupted update must be rolled back, but the volume is read-only.");
      for (const ImageRange& range : ranges) {
        if (!volume.WriteAt(range.Offset, range.Before.data(), range.Before.size()))
          return fail(JournalRecovery::Result::Failed,
                      "Rolling back the interrupted update failed at byte " +
                          std::to_string(range.Offset) + ": " + std::strerror(errno) + ".");
      }
      if (!volume.Sync())
        return fail(JournalRecovery::Result::Failed,
                    std::string("Rolling back the interrupted update failed: ") +
                        std::strerror(errno) + ".");
      done = "The interrupted move was rolled back.";
    } else if (!finished) {
      done = "The interrupted move had completed; it was kept.";
    }
  }

  // R7: take the session over.
  FilePath = path;
  SessionPayload.assign(session.Payload, session.Payload + session.PayloadBytes);
  if (fromCopy) {
    // The session goes on in this folder, the copy on the volume being the
    // caller's to attach again once the volume is mounted.
    std::filesystem::create_directories(Folder, failure);
    File = failure ? nullptr : Opener(path, StorageMode::CreateReadWrite, error);
    if (!File)
      return fail(JournalRecovery::Result::Failed,
                  "The recovery journal cannot be created in " + Folder.string() + ": " +
                      (failure ? failure.message() : error));
    std::string written;
    if (!File->Resize(0) || !WriteRecord(0, kSessionRecord, 0, SessionPayload, true, written) ||
        !SyncFolder(written)) {
      File.reset();
      return fail(JournalRecovery::Result::Failed, "The recovery journal: " + written);
    }
  } else {
    File = Opener(path, StorageMode::ReadWrite, error);
  }
  if (!File) return fail(JournalRecovery::Result::Failed, "The recovery journal: " + error);
  Sequence = lastSequence;
  UpdateEnd = kUpdateSlot;
  result.Outcome = JournalRecovery::Result::Resumed;
  result.FlagsBefore = flagsBefore;
  result.Message = done.empty() ? "The interrupted session was closed." : done;
  return result;
}

} // namespace quillo
