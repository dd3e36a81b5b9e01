// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/DemoDisk.h"

namespace quillo {

namespace {
// About 8 MiB/s with 4 KiB clusters: a 1,024-cluster request takes half a
// second.
constexpr uint32_t kMovedClustersPerSecond = 2048;
constexpr uint32_t kMillisecondsPerSecond = 1000;
constexpr uint32_t kReadLatencyMs = 2;
} // namespace

DemoDisk::DemoDisk(std::shared_ptr<MemoryVolume> volume, Clock& clock)
    : Inner(std::move(volume)), Time(clock) {}

Handle DemoDisk::OpenVolume(const std::string& devicePath) {
  return Inner->OpenVolume(devicePath);
}

bool DemoDisk::GetGeometry(const std::string& rootPath, DiskGeometry& out) {
  return Inner->GetGeometry(rootPath, out);
}

bool DemoDisk::GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) {
  return Inner->GetFreeSpace(rootPath, out);
}

bool DemoDisk::GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                                    VolumeInformation& out) {
  return Inner->GetVolumeInformation(rootPath, nameCapacity, out);
}

NtStatus DemoDisk::GetVolumeBitmap(Handle volume, int64_t startingLcn, VolumeBitmapBuffer& out,
                                   IoStatusBlock& iosb) {
  return Inner->GetVolumeBitmap(volume, startingLcn, out, iosb);
}

uint32_t DemoDisk::GetFileAttributes(const std::string& path) {
  return Inner->GetFileAttributes(path);
}

Handle DemoDisk::CreateFile(const std::string& path, uint32_t desiredAccess, uint32_t shareMode,
                            uint32_t flagsAndAttributes) {
  return Inner->CreateFile(path, desiredAccess, shareMode, flagsAndAttributes);
}

bool DemoDisk::GetFileInformationByHandle(Handle file, FileInformation& out) {
  return Inner->GetFileInformationByHandle(file, out);
}

NtStatus DemoDisk::GetRetrievalPointers(Handle file, int64_t startingVcn,
                                        RetrievalPointersBuffer& out, IoStatusBlock& iosb) {
  Time.Sleep(kReadLatencyMs);
  return Inner->GetRetrievalPointers(file, startingVcn, out, iosb);
}

NtStatus DemoDisk::MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) {
  NtStatus status = Inner->MoveFile(volume, data, iosb);
  if (status == kStatusSuccess)
    Time.Sleep(
        uint32_t(uint64_t(data.ClusterCount) * kMillisecondsPerSecond / kMovedClustersPerSecond));
  return status;
}

NtStatus DemoDisk::GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) {
  return Inner->GetNtfsVolumeData(volume, out);
}

NtStatus DemoDisk::GetNtfsFileRecord(Handle volume, int64_t fileReference,
                                     NtfsFileRecordOutputBuffer& out) {
  return Inner->GetNtfsFileRecord(volume, fileReference, out);
}

NtStatus DemoDisk::OpenFileById(Handle volume, uint64_t fileId, Handle& out) {
  return Inner->OpenFileById(volume, fileId, out);
}

NtStatus DemoDisk::QueryFileName(Handle file, FileNameInformation& out) {
  return Inner->QueryFileName(file, out);
}

bool DemoDisk::ListDirectory(const std::string& directoryPath, std::vector<DirectoryEntry>& out) {
  Time.Sleep(kReadLatencyMs);
  return Inner->ListDirectory(directoryPath, out);
}

void DemoDisk::CloseHandle(Handle handle) {
  Inner->CloseHandle(handle);
}

void DemoDisk::EndWriteSession() {
  Inner->EndWriteSession();
}

} // namespace quillo
