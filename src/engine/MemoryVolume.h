// SPDX-License-Identifier: GPL-2.0-or-later
// A volume held in memory. It is the test bed of the engine and the volume
// behind the command-line tool's demo: a cluster bitmap, a directory tree that
// can be listed and opened by path (FAT style), numbered records with sequence
// numbers and in-use flags that can be opened by id (NTFS style), and files
// with runs, holes, sizes and times. Every cluster carries a content token, so
// a test can prove that moves keep every file's data.
//
// Faults can be injected per operation: pending answers, failures, partial
// answers (smaller buffer capacities) and bitmap answers that start below the
// LCN asked for.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/VolumeDevice.h"

namespace quillo {

struct MemoryRun {
  int64_t Lcn = -1; // -1: no place on disk (a hole)
  uint32_t Length = 0;
};

struct MemoryFile {
  std::string Name; // UTF-8, no path
  // The name as the file system holds it, when it has no UTF-8 form (an
  // unpaired surrogate): listings and name queries answer this one.
  std::optional<std::u16string> WideName;
  uint32_t Parent = 0;
  bool Directory = false;
  uint32_t Attributes = 0;
  uint64_t LastWriteTime = 0; // FILETIME, as stored
  uint64_t Size = 0;
  bool Resident = false; // data inside the record: no clusters of its own
  std::vector<MemoryRun> Runs;
  std::vector<uint32_t> Children;
  uint16_t Sequence = 1;
  bool InUse = true;
};

enum class MemoryOperation {
  OpenVolume,
  Geometry,
  FreeSpace,
  VolumeInformation,
  Bitmap,
  GetAttributes,
  CreateFile,
  FileInformation,
  RetrievalPointers,
  MoveFile,
  NtfsVolumeData,
  NtfsFileRecord,
  OpenFileById,
  QueryFileName,
  ListDirectory,
};
constexpr size_t kMemoryOperationCount = size_t(MemoryOperation::ListDirectory) + 1;

// One CreateFile request as the volume received it.
struct CreateFileCall {
  std::string Path;
  uint32_t DesiredAccess = 0;
  uint32_t ShareMode = 0;
  uint32_t FlagsAndAttributes = 0;
};

class MemoryVolume final : public VolumeDevice {
public:
  struct Options {
    std::string VolumeName = "C:";
    std::string FileSystemName = "NTFS";
    uint32_t TotalClusters = 65536;
    uint32_t SectorsPerCluster = 8;
    uint32_t BytesPerSector = 512;
    uint32_t BytesPerFileRecord = 1024;
    uint32_t SerialNumber = 0x51D0C0DE;
  };

  static constexpr uint32_t kRootIndex = 0;

  explicit MemoryVolume(const Options& options);

  // --- Building a volume ---
  // Record numbers are indices; record 0 is the root directory.
  uint32_t AddDirectory(uint32_t parent, const std::string& name, uint64_t lastWriteTime = 0,
                        uint32_t attributes = 0);
  // Allocated runs must be free; they receive fresh content tokens.
  uint32_t AddFile(uint32_t parent, const std::string& name, const std::vector<MemoryRun>& runs,
                   uint64_t size, uint64_t lastWriteTime = 0, uint32_t attributes = 0);
  // Gives a directory clusters of its own.
  void SetRuns(uint32_t index, const std::vector<MemoryRun>& runs);
  void SetResident(uint32_t index, bool resident);
  // Clusters in use by nothing the walk can see (file-system structures).
  void Reserve(uint32_t lcn, uint32_t length);
  // Deletes a record: its clusters are freed and it is no longer in use.
  void DeleteRecord(uint32_t index);
  // The record was reused since it was read: its sequence number moves on.
  void BumpSequence(uint32_t index);
  // The record is reused right after its next file-record answer, so that an
  // open by the identifier built from that answer finds a newer sequence.
  void ReuseAfterNextRecordRead(uint32_t index);
  // Gives an entry a UTF-16 name for listings and name queries.
  void SetWideName(uint32_t index, const std::u16string& name);
  // NTFS layout data answered by GetNtfsVolumeData.
  void SetNtfsLayout(int64_t mftStartLcn, int64_t mftZoneStart, int64_t mftZoneEnd,
                     int64_t mftValidDataLength);
  void SetReadOnly(bool readOnly);

  // --- Faults ---
  // The next `times` calls of the operation (after `skip` calls) answer
  // `status`. For MoveFile and RetrievalPointers a path filter may restrict
  // the fault to one file.
  void FailOperation(MemoryOperation operation, NtStatus status = kStatusUnsuccessful,
                     int times = -1, int skip = 0, const std::string& pathFilter = "");
  // The next `times` calls answer kStatusPending, with the real answer in
  // the I/O status block.
  void AnswerPending(MemoryOperation operation, int times);
  void SetRetrievalCapacity(uint32_t entries);
  // Bitmap answers start this many clusters below the LCN asked for.
  void SetBitmapLowerStart(uint32_t clusters);
  void ClearFaults();

  // --- Inspection ---
  uint32_t FileCount() const;
  const MemoryFile& File(uint32_t index) const;
  std::optional<uint32_t> FindPath(const std::string& path) const;
  std::string PathOf(uint32_t index) const; // "C:\dir\file"
  bool IsAllocated(uint32_t lcn) const;
  uint32_t FreeClusterCount() const;
  // The content tokens of a file's allocated clusters in VCN order.
  std::vector<uint64_t> FileTokens(uint32_t index) const;
  // Every move request that was carried out or refused, in order.
  std::vector<MoveFileData> MoveLog() const;
  // How often an operation was called.
  uint64_t CallCount(MemoryOperation operation) const;
  // The directory paths listed, in order.
  std::vector<std::string> ListingLog() const;
  // CreateFile requests are kept from the moment this is set.
  void RecordCreateFileCalls(bool record);
  std::vector<CreateFileCall> CreateFileLog() const;
  size_t OpenHandleCount() const;
  // No cluster belongs to two files, the bitmap agrees with the files, and
  // every allocated cluster of a file carries a token. Empty when sound.
  std::string CheckConsistency() const;

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

private:
  struct Fault {
    NtStatus Status = kStatusUnsuccessful;
    int Times = -1;
    int Skip = 0;
    std::string PathFilter;
  };
  struct HandleEntry {
    bool IsVolume = false;
    uint32_t FileIndex = 0;
  };

  // Returns the injected status for this call, if any.
  std::optional<NtStatus> TakeFault(MemoryOperation operation, const std::string& path = "");
  // The same for an operation on a file, whose path is "C:\dir\file".
  std::optional<NtStatus> TakeFileFault(MemoryOperation operation, uint32_t index);
  bool TakePending(MemoryOperation operation);
  bool IsVolumeHandle(Handle handle) const;
  std::optional<uint32_t> FileOfHandle(Handle handle) const;
  std::optional<uint32_t> Resolve(const std::string& path) const;
  std::string RelativePath(uint32_t index) const; // "\dir\file"
  std::string KeyOf(uint32_t parent, const std::string& name) const;
  Handle NewHandle(bool isVolume, uint32_t fileIndex);
  void Allocate(uint32_t lcn, uint32_t length, uint64_t tokenBase);
  void Count(MemoryOperation operation) { ++Calls[size_t(operation)]; }
  bool RelativeWidePath(uint32_t index, std::u16string& out) const; // u"\\dir\\file"
  void Free(uint32_t lcn, uint32_t length);
  uint32_t AddEntry(uint32_t parent, MemoryFile file);
  NtStatus DoMove(const MoveFileData& data);

  mutable std::mutex Lock;
  Options Settings;
  std::vector<MemoryFile> Files;
  std::unordered_map<std::string, uint32_t> PathIndex; // lower-case key of parent and name
  std::vector<uint64_t> Tokens; // 0 = free
  // Bit k set while Tokens[k] is not 0, laid out as a bitmap answer: the
  // pass asks for the whole bitmap every few files.
  std::vector<uint8_t> InUseBits;
  void SetToken(size_t lcn, uint64_t token);
  uint32_t FreeCount = 0;
  uint64_t NextToken = 1;
  std::unordered_map<Handle, HandleEntry> Handles;
  Handle NextHandle = 100;
  bool ReadOnly = false;
  int64_t MftStartLcn = 0;
  int64_t MftZoneStart = 0;
  int64_t MftZoneEnd = 0;
  int64_t MftValidDataLength = -1; // -1: from the record count
  std::map<MemoryOperation, Fault> Faults;
  std::map<MemoryOperation, int> Pending;
  uint32_t RetrievalCapacity = kRetrievalCapacity;
  uint32_t BitmapLowerStart = 0;
  std::vector<MoveFileData> Moves;
  std::array<uint64_t, kMemoryOperationCount> Calls{};
  std::vector<std::string> Listings;
  bool KeepCreateFileCalls = false;
  std::vector<CreateFileCall> CreateFileCalls;
  std::vector<uint32_t> ReuseAfterRead;
};

} // namespace quillo
