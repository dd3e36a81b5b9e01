// SPDX-License-Identifier: GPL-2.0-or-later
// A FAT32 volume behind the engine's VolumeDevice, with the semantics of
// the NT file-system control calls on Windows FAT32: LCN 0 is data cluster
// 2, the bitmap comes from the FAT, retrieval pointers from the cluster
// chains, and moves follow FSCTL_MOVE_FILE (the target must be free). Moves
// are crash-safe (FatMover); the volume is checked before its first write
// (FatVolumeCheck) and marked dirty while written (FatWriteSession).
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/VolumeDevice.h"
#include "platform/BlockDevice.h"
#include "platform/fat/FatCommitQueue.h"
#include "platform/fat/FatLayout.h"
#include "platform/fat/FatMover.h"
#include "platform/fat/FatNamespace.h"
#include "platform/fat/FatTable.h"
#include "platform/fat/FatWriteSession.h"
#include "platform/fat/HandleTable.h"
#include "platform/fat/HoldingBlockDevice.h"

namespace quillo::fat {

class FatVolume final : public VolumeDevice {
public:
  // Validates the boot sector, the FAT and the root directory of the volume
  // on `device` and serves it under `volumeName` ("C:"). Null when the
  // volume is not a sound FAT32 volume; `why` then says what is wrong, and
  // nothing has been written.
  static std::unique_ptr<FatVolume> Open(const std::string& volumeName,
                                         std::unique_ptr<BlockDevice> device, std::string& why);
  ~FatVolume() override;

  const FatLayout& Layout() const { return Geometry; }
  // Damage met so far (chains that cannot be followed, why writes are
  // refused), each naming the path concerned.
  std::vector<std::string> Problems() const;
  // How much moved work may wait for one commit (see FatCommitQueue).
  void SetCommitLimits(const CommitLimits& limits);

  // --- VolumeDevice ---
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
  void EndWriteSession() override;
  std::vector<std::string> Notices() const override { return Problems(); }
  WriteVerdict GetWriteVerdict() const override;

private:
  struct OpenEntry {
    bool IsVolume = false;
    std::shared_ptr<const Location> Where; // shared with the lookup cache
  };
  enum class Resolution { Found, NotFound, Corrupt };

  FatVolume(const std::string& volumeName, std::unique_ptr<BlockDevice> device,
            const FatLayout& layout);

  bool OnThisVolume(const std::string& path) const;
  Resolution Resolve(const std::string& path, std::shared_ptr<const Location>& out);
  // A path below the volume name ("dir\sub", possibly empty), walked from
  // the root.
  Resolution ResolveFromRoot(const std::string& relative, Location& out);
  Resolution Corrupt(const std::string& path, const std::string& problem);
  OpenEntry* FindHandle(Handle handle, bool wantVolume);
  Handle NewHandle(OpenEntry entry);
  void Record(const std::u16string& path, const std::string& what);
  void FollowMove(const Location& moved, const MoveOutcome& outcome);
  // Commits the pending moves and ends the write session.
  void FinishWrites();

  mutable std::mutex Lock;
  std::string VolumeName;
  std::unique_ptr<BlockDevice> Storage;
  FatLayout Geometry;
  // Every read and write of the volume goes through here.
  HoldingBlockDevice Device;
  FatTable Table;
  FatNamespace Names;
  FatWriteSession Session;
  FatCommitQueue Commits;
  FatMover Mover;
  HandleTable<OpenEntry> Handles;
  // The last path resolved and its directory: the walk asks for the
  // attributes of an entry, then opens it, twice, before going on to the
  // next entry of the same directory. Moves clear both.
  std::string LastPath;
  std::shared_ptr<const Location> LastLocation;
  std::string LastParentPath;
  Location LastParent;
  bool LastParentValid = false;
  // The path each directory listed so far was reached by, keyed by its
  // first cluster. A directory lies at one place in a sound tree; reached
  // by a second path, an entry leads back to it and a walk would go round
  // for ever.
  std::unordered_map<uint32_t, std::u16string> ListedDirectories;
  std::vector<std::string> ProblemLog;
  std::set<std::string> ProblemSet;
};

} // namespace quillo::fat
