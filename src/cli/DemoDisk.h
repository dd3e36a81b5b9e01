// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>

#include "engine/Clock.h"
#include "engine/MemoryVolume.h"

namespace quillo {

// The demo's in-memory volume behind the pace of a slow disk: reading a
// file's extents and listing a directory take a moment, and moves go at a
// few megabytes a second, so that the progress and the map can be watched.
class DemoDisk final : public VolumeDevice {
public:
  DemoDisk(std::shared_ptr<MemoryVolume> volume, Clock& clock);

  MemoryVolume& Volume() { return *Inner; }

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

private:
  std::shared_ptr<MemoryVolume> Inner;
  Clock& Time;
};

} // namespace quillo
