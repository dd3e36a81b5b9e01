// SPDX-License-Identifier: GPL-2.0-or-later
// An NTFS volume (an image file or an unmounted partition) served through
// libntfs-3g with the semantics of the NT file-system control interface.
//
// The volume is mounted read-only while it is analysed, so an analysis writes
// nothing. The first move begins a write session: the volume is remounted
// for writing, the undo journal is opened, and the volume is marked dirty
// and given the journal's copy (see UndoJournal.cpp); every group of moves
// is then one journaled update. The session ends, flags restored and both
// copies of the journal removed, when the pass ends or the volume is
// released (EndWriteSession), and the volume is mounted read-only again.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "engine/VolumeDevice.h"
#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/ClusterOwners.h"
#include "platform/ntfs/KeptRecords.h"
#include "platform/ntfs/LibraryDevice.h"
#include "platform/ntfs/MftCatalog.h"
#include "platform/ntfs/MftRecordReader.h"
#include "platform/ntfs/NtfsMount.h"
#include "platform/ntfs/OpenFiles.h"
#include "platform/ntfs/UndoJournal.h"
#include "platform/ntfs/VolumeIdentity.h"
#include "platform/ntfs/WriteSession.h"

namespace quillo {

struct NtfsVolumeOptions {
  std::string VolumeName = "C:"; // the name the device serves
  std::string DeviceName;        // for the library and messages: "/dev/sdb1", an image's path
  // The volume's storage, held for as long as the device lives. A read-only
  // storage serves analyses only.
  std::unique_ptr<BlockStorage> Storage;
  std::filesystem::path JournalFolder;
  StorageOpener JournalOpener; // empty: ImageFile::Open
  // Memory for the MFT records that opening reads and the analysis is
  // answered from; records beyond it are read again when asked for.
  size_t KeptRecordBytes = KeptRecords::kDefaultBound;
  // Moves held as one update, committed together with one sync of their
  // data, one of the journal and one of the volume, when either bound is
  // reached and at the end of the session.
  uint32_t GroupMoves = kDefaultGroupMoves;
  uint64_t GroupBytes = kDefaultGroupBytes;
  // The size of the journal's copy on the volume; 0: a share of the free
  // space. Groups are also committed before they outgrow half of it.
  uint64_t VolumeJournalBytes = 0;
  static constexpr uint32_t kDefaultGroupMoves = 2048;
  static constexpr uint64_t kDefaultGroupBytes = uint64_t(64) << 20;
};

class NtfsVolume final : public VolumeDevice {
public:
  // Opens the volume: recovers an interrupted session from the journal,
  // checks the whole MFT, and refuses writes to volumes that Windows did not
  // shut down cleanly or whose metadata is inconsistent. Null on refusal,
  // with `why` in one or two sentences; nothing is written to a volume that
  // is refused.
  static std::shared_ptr<NtfsVolume> Open(NtfsVolumeOptions options, std::string& why);
  ~NtfsVolume() override;
  NtfsVolume(const NtfsVolume&) = delete;
  NtfsVolume& operator=(const NtfsVolume&) = delete;

  // What recovery did when the volume was opened; empty when nothing.
  std::string RecoveryNote() const;
  // Why the last move or session step failed; empty when none did.
  std::string LastProblem() const;

  Handle OpenVolume(const std::string& devicePath) override;
  bool GetGeometry(const std::string& rootPath, DiskGeometry& out) override;
  bool GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) override;
  bool GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                            VolumeInformation& out) override;
  NtStatus GetVolumeBitmap(Handle volume, int64_t startingLcn, VolumeBitmapBuffer& out,
                           IoStatusBlock& iosb) override;
  uint32_t GetFileAttributes(const std::string& path) override;
  Handle CreateFile(const std::string& path, uint32_t desiredAccess, uint32_t shareMode,
                    uint32_t flagsAndAttributes) override;
  bool GetFileInformationByHandle(Handle file, FileInformation& out) override;
  NtStatus GetRetrievalPointers(Handle file, int64_t startingVcn, RetrievalPointersBuffer& out,
                                IoStatusBlock& iosb) override;
  NtStatus MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) override;
  NtStatus GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) override;
  NtStatus GetNtfsFileRecord(Handle volume, int64_t fileReference,
                             NtfsFileRecordOutputBuffer& out) override;
  NtStatus OpenFileById(Handle volume, uint64_t fileId, Handle& out) override;
  NtStatus QueryFileName(Handle file, FileNameInformation& out) override;
  bool ListDirectory(const std::string& directoryPath, std::vector<DirectoryEntry>& out) override;
  void CloseHandle(Handle handle) override;
  NtStatus QueryStreams(Handle file, std::vector<StreamInformation>& out) override;
  NtStatus OpenStream(Handle file, const std::u16string& name, Handle& out) override;
  void EndWriteSession() override;
  // The recovery note, why writes are refused, and the last problem.
  std::vector<std::string> Notices() const override;
  WriteVerdict GetWriteVerdict() const override;

private:
  explicit NtfsVolume(NtfsVolumeOptions options);
  bool Initialise(std::string& why);
  // From the journal's copy on the volume when there is one (`volumeCopy`),
  // otherwise from the one in the folder. `dirty`: the volume is marked so.
  bool RecoverFromJournal(std::string& why, BlockStorage* volumeCopy, bool dirty);
  // Replaces the mount by a read-only or a writable one.
  bool Remount(bool writable, std::string& error);
  bool BeginWriteSession();
  // Ends what a journal file left in use on a volume marked clean asks for
  // (another tool cleared the dirty flag after an interrupted run), with the
  // volume unmounted; false, with the refusal set, when it cannot.
  bool SettleLeftoverVolumeJournal();
  void EndSessionLocked();
  // Throws the library's state away after a failed update and mounts again.
  void AbandonUpdate();
  // Takes back a failed move and mounts again, keeping the moves held
  // before it.
  void AbandonMove();
  // Commits the moves held so far; false when they could not be written
  // (they are undone, and Failure says so).
  bool CommitGroupLocked();
  void MarkBroken(const std::string& why);
  // Checks what the pass over the MFT gathered before anything is written;
  // sets Refusal when the volume is not consistent enough to move files on.
  void CheckBeforeWrites(const AttributeListLinks& lists);
  // Reads the shadow-copy header and catalog: their clusters are never a
  // move target, and a volume with snapshots (or a damaged catalog) is
  // refused for writes.
  void CheckShadowCopies();

  ntfs_volume* Library() const { return Mount->Volume(); }
  bool IsVolumeHandle(Handle handle);
  HandleEntry* FileOfHandle(Handle handle);
  // The file of a handle with the library's inode open.
  OpenFile* AttachedFile(Handle handle);
  // The catalog's entry while it still tells the file's stream.
  const CatalogEntry* KnownStream(const HandleEntry& entry) const;
  // "C:\dir\file" to the library's "/dir/file"; false for other volumes.
  bool LibraryPath(const std::string& path, std::string& out) const;
  ntfs_inode* OpenPath(const std::string& path);
  static uint32_t WindowsAttributes(uint32_t flags, bool directory);
  uint32_t AttributesOf(ntfs_inode* inode) const;
  bool RefusesMove(uint64_t record) const;

  mutable std::mutex Lock;
  NtfsVolumeOptions Options;
  VolumeIdentity Identity;
  std::unique_ptr<LibraryDevice> Bridge;
  std::unique_ptr<NtfsMount> Mount;
  std::unique_ptr<UndoJournal> Journal;
  std::unique_ptr<WriteSession> Session;
  MftCatalog Catalog;
  KeptRecords Kept;
  MftRecordReader Records;

  OpenFiles Opened;
  // The clusters the records own, kept in step with the moves.
  ClusterOwners Owners;
  // The moves held and not yet committed: their old clusters stay owned (and
  // shown in use) until the update that frees them is on the volume.
  struct MoveGroup {
    std::vector<MovedPiece> Pieces;
    uint32_t Moves = 0;
    uint64_t Bytes = 0;
  };
  MoveGroup Group;

  bool Broken = false;
  std::string Recovery;
  std::string Problem;
  // Why no write is made at all; set before the first write.
  std::string Refusal;
  // Set when Windows did not finish with the volume: the analysis may show
  // an out-of-date picture.
  std::string Stale;
  // Why Windows' shadow copies forbid writes; a notice even when another
  // refusal came first.
  std::string Shadows;
  // Why the work ended badly after writing began.
  std::string Failure;
};

} // namespace quillo
