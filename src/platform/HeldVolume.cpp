// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/HeldVolume.h"

namespace quillo {

HeldVolume::HeldVolume(std::shared_ptr<VolumeDevice> held, const OpeningIntent& heldFor,
                       WorkOpener openForWork, QueryOpener openForQuery)
    : OpenForWork(std::move(openForWork)), OpenForQuery(std::move(openForQuery)),
      Device(std::move(held)), Wanted(heldFor), HeldForWrites(heldFor.Writes) {}

HeldVolume::HeldVolume(const Failure& refused, const OpeningIntent& wanted,
                       WorkOpener openForWork, QueryOpener openForQuery)
    : OpenForWork(std::move(openForWork)), OpenForQuery(std::move(openForQuery)),
      LastFailure(refused), Described(refused.Described), Wanted(wanted) {}

bool HeldVolume::Describe(VolumeInformation& out) const {
  if (!Described.Known()) return false;
  out = {};
  out.VolumeLabel = Described.Label;
  out.FileSystemName = Described.FileSystemName;
  return true;
}

bool HeldVolume::Describe(DiskFreeSpace& out) const {
  if (!Described.Known() || Described.TotalBytes == 0) return false;
  // The free space is known only once the volume has been read.
  out = {};
  out.TotalNumberOfBytes = Described.TotalBytes;
  return true;
}

bool HeldVolume::IsHeld() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Device != nullptr;
}

std::shared_ptr<VolumeDevice> HeldVolume::Held() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Device;
}

std::shared_ptr<VolumeDevice> HeldVolume::ForQuery() const {
  if (std::shared_ptr<VolumeDevice> held = Held()) return held;
  return OpenForQuery ? OpenForQuery() : nullptr;
}

void HeldVolume::Release() {
  for (std::string& notice : Device->Notices()) KeptNotices.push_back(std::move(notice));
  LastVerdict = Device->GetWriteVerdict();
  Device.reset();
}

Handle HeldVolume::OpenVolume(const std::string& devicePath) {
  std::lock_guard<std::mutex> guard(Lock);
  // Held for reading while a pass is to write: opened again, when no other
  // volume handle works on it.
  if (Device && Wanted.Writes && !HeldForWrites && VolumeHandles.empty()) Release();
  if (!Device) {
    Failure failure;
    Device = OpenForWork(Wanted, failure);
    if (!Device) {
      LastFailure = failure;
      return kInvalidHandle;
    }
    HeldForWrites = Wanted.Writes;
  }
  LastFailure = {};
  Handle handle = Device->OpenVolume(devicePath);
  if (handle != kInvalidHandle) {
    VolumeHandles.insert(handle);
  } else if (VolumeHandles.empty()) {
    Release();
  }
  return handle;
}

void HeldVolume::CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!Device) return;
  Device->CloseHandle(handle);
  // The last volume handle ends the work: the storage is let go.
  if (VolumeHandles.erase(handle) > 0 && VolumeHandles.empty()) Release();
}

bool HeldVolume::GetGeometry(const std::string& rootPath, DiskGeometry& out) {
  std::shared_ptr<VolumeDevice> device = ForQuery();
  return device && device->GetGeometry(rootPath, out);
}

bool HeldVolume::GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) {
  std::shared_ptr<VolumeDevice> device = ForQuery();
  if (device) return device->GetFreeSpace(rootPath, out);
  return Describe(out);
}

bool HeldVolume::GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                                      VolumeInformation& out) {
  std::shared_ptr<VolumeDevice> device = ForQuery();
  if (device) return device->GetVolumeInformation(rootPath, nameCapacity, out);
  VolumeInformation described;
  if (!Describe(described) || described.FileSystemName.size() + 1 > nameCapacity) return false;
  out = std::move(described);
  return true;
}

uint32_t HeldVolume::GetFileAttributes(const std::string& path) {
  std::shared_ptr<VolumeDevice> device = ForQuery();
  return device ? device->GetFileAttributes(path) : kInvalidFileAttributes;
}

bool HeldVolume::ListDirectory(const std::string& directoryPath,
                               std::vector<DirectoryEntry>& out) {
  std::shared_ptr<VolumeDevice> device = ForQuery();
  return device && device->ListDirectory(directoryPath, out);
}

// Handles belong to the device held for work; without one there are none.

NtStatus HeldVolume::GetVolumeBitmap(Handle volume, int64_t startingLcn, VolumeBitmapBuffer& out,
                                     IoStatusBlock& iosb) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->GetVolumeBitmap(volume, startingLcn, out, iosb) : kStatusInvalidHandle;
}

Handle HeldVolume::CreateFile(const std::string& path, uint32_t desiredAccess, uint32_t shareMode,
                              uint32_t flagsAndAttributes) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->CreateFile(path, desiredAccess, shareMode, flagsAndAttributes)
                : kInvalidHandle;
}

bool HeldVolume::GetFileInformationByHandle(Handle file, FileInformation& out) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device && device->GetFileInformationByHandle(file, out);
}

NtStatus HeldVolume::GetRetrievalPointers(Handle file, int64_t startingVcn,
                                          RetrievalPointersBuffer& out, IoStatusBlock& iosb) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->GetRetrievalPointers(file, startingVcn, out, iosb)
                : kStatusInvalidHandle;
}

NtStatus HeldVolume::MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->MoveFile(volume, data, iosb) : kStatusInvalidHandle;
}

NtStatus HeldVolume::GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->GetNtfsVolumeData(volume, out) : kStatusInvalidHandle;
}

NtStatus HeldVolume::GetNtfsFileRecord(Handle volume, int64_t fileReference,
                                       NtfsFileRecordOutputBuffer& out) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->GetNtfsFileRecord(volume, fileReference, out) : kStatusInvalidHandle;
}

NtStatus HeldVolume::OpenFileById(Handle volume, uint64_t fileId, Handle& out) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->OpenFileById(volume, fileId, out) : kStatusInvalidHandle;
}

NtStatus HeldVolume::QueryFileName(Handle file, FileNameInformation& out) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->QueryFileName(file, out) : kStatusInvalidHandle;
}

NtStatus HeldVolume::QueryStreams(Handle file, std::vector<StreamInformation>& out) {
  std::shared_ptr<VolumeDevice> device = Held();
  return device ? device->QueryStreams(file, out) : kStatusInvalidHandle;
}

NtStatus HeldVolume::OpenStream(Handle file, const std::u16string& name, Handle& out) {
  std::shared_ptr<VolumeDevice> device = Held();
  if (device) return device->OpenStream(file, name, out);
  out = kInvalidHandle;
  return kStatusInvalidHandle;
}

void HeldVolume::EndWriteSession() {
  if (std::shared_ptr<VolumeDevice> device = Held()) device->EndWriteSession();
}

std::vector<std::string> HeldVolume::Notices() const {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<std::string> notices = KeptNotices;
  if (Device)
    for (std::string& notice : Device->Notices()) notices.push_back(std::move(notice));
  return notices;
}

WriteVerdict HeldVolume::GetWriteVerdict() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Device ? Device->GetWriteVerdict() : LastVerdict;
}

void HeldVolume::SetOpeningIntent(const OpeningIntent& intent) {
  std::lock_guard<std::mutex> guard(Lock);
  Wanted = intent;
}

bool HeldVolume::NeedsReopening() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Device && Wanted.Writes && !HeldForWrites;
}

std::string HeldVolume::OpenFailure() const {
  std::lock_guard<std::mutex> guard(Lock);
  return LastFailure.Why;
}

bool HeldVolume::OpenNeedsAuthorisation() const {
  std::lock_guard<std::mutex> guard(Lock);
  return LastFailure.NeedsAuthorisation;
}

} // namespace quillo
