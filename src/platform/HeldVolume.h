// SPDX-License-Identifier: GPL-2.0-or-later
// A volume that is held (its storage opened exclusively) only while a job
// works on it. It hands every call to the device of the file system on that
// storage. Closing the last volume handle lets the storage go, so that the
// desktop or another program may mount or open the volume while the job is
// parked; the next volume handle opens it again, or says why it cannot.
// Queries made while the volume is not held read it without taking it; a
// volume that could not even be read so, because only the user's
// authorisation opens it, is described as the disk service told of it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/VolumeDevice.h"
#include "platform/VolumeDescription.h"

namespace quillo {

class HeldVolume final : public VolumeDevice {
public:
  // Why an opening for work failed.
  struct Failure {
    std::string Why;
    // Only the user's authorisation, which the intent did not let the
    // opening ask for, would have opened it.
    bool NeedsAuthorisation = false;
    // What the disk service told of the volume it would not open.
    VolumeDescription Described;
  };
  // Opens the volume for work (exclusively), for what `intent` says; null
  // with `failure` when it is busy, mounted, gone, no longer a volume, or
  // not to be opened without a prompt the intent does not allow.
  using WorkOpener =
      std::function<std::shared_ptr<VolumeDevice>(const OpeningIntent& intent, Failure& failure)>;
  // Opens it read-only and without locks for one query; null when it cannot.
  using QueryOpener = std::function<std::shared_ptr<VolumeDevice>()>;

  // `held` is the device already opened for work, for `heldFor`: the volume
  // starts held, and stays so until the last volume handle opened on it is
  // closed. The next openings are for `heldFor` too until told otherwise.
  HeldVolume(std::shared_ptr<VolumeDevice> held, const OpeningIntent& heldFor,
             WorkOpener openForWork, QueryOpener openForQuery);
  // A volume whose first opening for work, for `wanted`, was refused for
  // want of the user's authorisation (`refused`): it starts not held, says
  // so (OpenFailure, OpenNeedsAuthorisation), and the next opening whose
  // intent may prompt opens it.
  HeldVolume(const Failure& refused, const OpeningIntent& wanted, WorkOpener openForWork,
             QueryOpener openForQuery);

  bool IsHeld() const;

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
  std::vector<std::string> Notices() const override;
  WriteVerdict GetWriteVerdict() const override;
  std::string OpenFailure() const override;
  void SetOpeningIntent(const OpeningIntent& intent) override;
  bool NeedsReopening() const override;
  bool OpenNeedsAuthorisation() const override;

private:
  // The device held for work, or null.
  std::shared_ptr<VolumeDevice> Held() const;
  // The device held for work, or one opened for this query only.
  std::shared_ptr<VolumeDevice> ForQuery() const;
  // Lets the storage go, keeping what its device had to tell. Under Lock.
  void Release();
  // What the disk service told of the volume, when nothing else answers.
  bool Describe(VolumeInformation& out) const;
  bool Describe(DiskFreeSpace& out) const;

  WorkOpener OpenForWork;
  QueryOpener OpenForQuery;
  mutable std::mutex Lock;
  // All under Lock.
  std::shared_ptr<VolumeDevice> Device;
  std::set<Handle> VolumeHandles;
  std::vector<std::string> KeptNotices;
  WriteVerdict LastVerdict;
  Failure LastFailure;
  // Set once at construction.
  VolumeDescription Described;
  // What the next opening is for, and whether the one held allows writes.
  OpeningIntent Wanted;
  bool HeldForWrites = false;
};

} // namespace quillo
