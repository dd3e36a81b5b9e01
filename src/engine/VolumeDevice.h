// SPDX-License-Identifier: GPL-2.0-or-later
// The engine's only way to a volume. The operations and records mirror the NT
// file-system control interface (FSCTL_GET_VOLUME_BITMAP and friends) so that
// an in-memory volume, our FAT32 and NTFS implementations on Linux, and a
// Windows implementation can each stand behind it with the same semantics:
// status codes, pending answers, buffer capacities and partial answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo {

// --- Status codes (NTSTATUS values the engine tells apart, and a few more
// that implementations use to say why something failed). ---
using NtStatus = uint32_t;
constexpr NtStatus kStatusSuccess = 0x00000000;
constexpr NtStatus kStatusPending = 0x00000103;
constexpr NtStatus kStatusBufferOverflow = 0x80000005;
constexpr NtStatus kStatusUnsuccessful = 0xC0000001;
constexpr NtStatus kStatusInvalidHandle = 0xC0000008;
constexpr NtStatus kStatusInvalidParameter = 0xC000000D;
constexpr NtStatus kStatusEndOfFile = 0xC0000011;
constexpr NtStatus kStatusAlreadyCommitted = 0xC0000021;
constexpr NtStatus kStatusAccessDenied = 0xC0000022;
constexpr NtStatus kStatusObjectNameNotFound = 0xC0000034;
constexpr NtStatus kStatusMediaWriteProtected = 0xC00000A2;
constexpr NtStatus kStatusNotSupported = 0xC00000BB;
constexpr NtStatus kStatusFileCorruptError = 0xC0000102;
constexpr NtStatus kStatusDiskCorruptError = 0xC0000032;

// Handles are opaque integers; -1 is the invalid value.
using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

// The final status of a call that answered kStatusPending.
struct IoStatusBlock {
  NtStatus Status = kStatusSuccess;
  uint64_t Information = 0;
};

// --- File attributes (the Windows bits). ---
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeSystem = 0x04;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

// --- CreateFile arguments the engine passes. ---
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kFileShareDelete = 0x4;
constexpr uint32_t kFileFlagBackupSemantics = 0x02000000;
constexpr uint32_t kFileFlagNoBuffering = 0x20000000;

// --- GetDriveType answers. ---
constexpr uint32_t kDriveUnknown = 0;
constexpr uint32_t kDriveNoRootDir = 1;
constexpr uint32_t kDriveRemovable = 2;
constexpr uint32_t kDriveFixed = 3;

// FSCTL_GET_VOLUME_BITMAP: 16 bytes of header and 81,920 bytes of bitmap, so
// at most 655,360 clusters per answer. StartingLcn may lie below the LCN asked
// for; BitmapSize counts clusters from StartingLcn to the end of the volume,
// not the bits returned. Bit k is bit (k mod 8) of byte (k div 8); 1 =
// allocated.
constexpr uint32_t kBitmapBufferBytes = 81920;
constexpr uint32_t kBitmapCapacityClusters = kBitmapBufferBytes * 8;
struct VolumeBitmapBuffer {
  int64_t StartingLcn;
  int64_t BitmapSize;
  uint8_t Buffer[kBitmapBufferBytes];
};
static_assert(sizeof(VolumeBitmapBuffer) == 81936);

// FSCTL_GET_RETRIEVAL_POINTERS: the engine passes an 8,204-byte buffer, room
// for 511 entries. An entry's Lcn of -1 means the run has no place on disk.
constexpr uint32_t kRetrievalBufferBytes = 8204;
constexpr uint32_t kRetrievalCapacity = 511;
struct RetrievalPointerEntry {
  int64_t NextVcn;
  int64_t Lcn;
};
struct RetrievalPointersBuffer {
  uint32_t ExtentCount;
  uint32_t Padding;
  int64_t StartingVcn;
  RetrievalPointerEntry Extents[kRetrievalCapacity];
};
static_assert(sizeof(RetrievalPointersBuffer) <= kRetrievalBufferBytes);
static_assert((kRetrievalBufferBytes - 16) / sizeof(RetrievalPointerEntry) == kRetrievalCapacity);

// FSCTL_MOVE_FILE input.
struct MoveFileData {
  Handle FileHandle;
  int64_t StartingVcn;
  int64_t StartingLcn;
  uint32_t ClusterCount;
};

// FSCTL_GET_NTFS_VOLUME_DATA output (NTFS_VOLUME_DATA_BUFFER, 96 bytes).
struct NtfsVolumeDataBuffer {
  int64_t VolumeSerialNumber;
  int64_t NumberSectors;
  int64_t TotalClusters;
  int64_t FreeClusters;
  int64_t TotalReserved;
  uint32_t BytesPerSector;
  uint32_t BytesPerCluster;
  uint32_t BytesPerFileRecordSegment;
  uint32_t ClustersPerFileRecordSegment;
  int64_t MftValidDataLength;
  int64_t MftStartLcn;
  int64_t Mft2StartLcn;
  int64_t MftZoneStart;
  int64_t MftZoneEnd;
};
static_assert(sizeof(NtfsVolumeDataBuffer) == 96);

// FSCTL_GET_NTFS_FILE_RECORD output (1,064 bytes). The record header's
// sequence number is the 16-bit value at byte 16, its flags the 16-bit value
// at byte 22 (bit 0 = in use), both little-endian.
constexpr uint32_t kNtfsFileRecordOutputBytes = 1064;
constexpr uint32_t kFileRecordSequenceOffset = 16;
constexpr uint32_t kFileRecordFlagsOffset = 22;
constexpr uint16_t kFileRecordInUse = 0x0001;
struct NtfsFileRecordOutputBuffer {
  int64_t FileReferenceNumber;
  uint32_t FileRecordLength;
  uint8_t FileRecordBuffer[kNtfsFileRecordOutputBytes - 12];
};
static_assert(sizeof(NtfsFileRecordOutputBuffer) == kNtfsFileRecordOutputBytes);

// ZwQueryInformationFile(FileNameInformation) into a 524-byte buffer: the name
// length in bytes, then at most 260 UTF-16 characters of the path from the
// volume root ("\dir\file"). A longer path does not fit and fails.
constexpr uint32_t kFileNameCapacity = 260;
struct FileNameInformation {
  uint32_t FileNameLength;
  char16_t FileName[kFileNameCapacity];
};
static_assert(sizeof(FileNameInformation) == 524);

// GetDiskFreeSpaceA.
struct DiskGeometry {
  uint32_t SectorsPerCluster = 0;
  uint32_t BytesPerSector = 0;
  uint32_t NumberOfFreeClusters = 0;
  uint32_t TotalNumberOfClusters = 0;
};

// GetDiskFreeSpaceExA.
struct DiskFreeSpace {
  uint64_t FreeBytesAvailable = 0;
  uint64_t TotalNumberOfBytes = 0;
  uint64_t TotalNumberOfFreeBytes = 0;
};

// GetVolumeInformationA. The file-system name is cut to the caller's buffer:
// the job asks with room for 10 characters.
struct VolumeInformation {
  std::string VolumeLabel;
  uint32_t SerialNumber = 0;
  uint32_t MaximumComponentLength = 0;
  uint32_t FileSystemFlags = 0;
  std::string FileSystemName; // "NTFS", "FAT32", "FAT", ...
};

// GetFileInformationByHandle: the fields the engine reads.
struct FileInformation {
  uint32_t FileAttributes = 0;
  uint64_t LastWriteTime = 0; // FILETIME: 100 ns units since 1601-01-01, as stored
  uint64_t FileSize = 0;
};

// One entry of a directory listing (FindFirstFile/FindNextFile).
struct DirectoryEntry {
  std::u16string Name;
  uint32_t FileAttributes = 0;
};

// One named data stream of a file, as ZwQueryInformationFile(FileStream-
// Information) tells it, with the name bare ("stream", not ":stream:$DATA").
// The unnamed stream is not listed: the file's own handle stands for it.
struct StreamInformation {
  std::u16string Name;
  uint64_t Size = 0;           // bytes of data
  uint64_t AllocationSize = 0; // bytes of clusters; 0 when the data lives in the record
};

// Whether the device did the writing it was asked for. Refused: it would not
// write to the volume at all (damage found before the first write, a
// read-only, dirty or hibernated volume); Failed: writing began and then
// failed in a way that leaves the volume to be repaired. A pass that met
// either is not a finished defragmentation, whatever its files' statuses.
struct WriteVerdict {
  enum class Kind : uint8_t { Sound, Refused, Failed };
  Kind Result = Kind::Sound;
  std::string Reason; // a sentence or two for the user
};

// What an opening of the volume for work is for.
struct OpeningIntent {
  // A pass writes; an analysis only reads, and asks for no more.
  bool Writes = false;
  // Someone attends the run, so the opening may wait for the user to
  // authorise access (a prompt of the desktop). A run nobody attends says
  // no, and a volume that would need a prompt is then refused.
  bool Prompts = true;
};

// All paths are full Windows-style paths that start with the volume name the
// device serves: "C:\", "C:\dir\file". Names on the engine side are UTF-8.
class VolumeDevice {
public:
  virtual ~VolumeDevice() = default;

  // CreateFileA on "\\.\C:". Returns a handle or kInvalidHandle.
  virtual Handle OpenVolume(const std::string& devicePath) = 0;

  // GetDiskFreeSpaceA on "C:\".
  virtual bool GetGeometry(const std::string& rootPath, DiskGeometry& out) = 0;
  // GetDiskFreeSpaceExA on "C:\".
  virtual bool GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) = 0;
  // GetVolumeInformationA on "C:\", with a file-system-name buffer of
  // nameCapacity characters (the terminating zero included).
  virtual bool GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                                    VolumeInformation& out) = 0;

  // FSCTL_GET_VOLUME_BITMAP on a volume handle. Answers kStatusSuccess,
  // kStatusBufferOverflow (more follows), kStatusPending (then iosb.Status is
  // the result) or a failure.
  virtual NtStatus GetVolumeBitmap(Handle volume, int64_t startingLcn, VolumeBitmapBuffer& out,
                                   IoStatusBlock& iosb) = 0;

  // GetFileAttributesA: kInvalidFileAttributes when the path does not exist.
  virtual uint32_t GetFileAttributes(const std::string& path) = 0;
  // CreateFileA on a file or directory path.
  virtual Handle CreateFile(const std::string& path, uint32_t desiredAccess, uint32_t shareMode,
                            uint32_t flagsAndAttributes) = 0;
  // GetFileInformationByHandle.
  virtual bool GetFileInformationByHandle(Handle file, FileInformation& out) = 0;

  // FSCTL_GET_RETRIEVAL_POINTERS on a file handle, at most 511 entries per
  // answer; kStatusBufferOverflow when more follow. A file whose data lives in
  // its record answers kStatusEndOfFile.
  virtual NtStatus GetRetrievalPointers(Handle file, int64_t startingVcn,
                                        RetrievalPointersBuffer& out, IoStatusBlock& iosb) = 0;

  // FSCTL_MOVE_FILE on a volume handle. The target clusters must all be free,
  // otherwise kStatusAlreadyCommitted and nothing changes. A range that
  // covers holes places its allocated clusters one after another from the
  // target, and the holes stay holes.
  virtual NtStatus MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) = 0;

  // FSCTL_GET_NTFS_VOLUME_DATA. Non-NTFS volumes answer a failure.
  virtual NtStatus GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) = 0;
  // FSCTL_GET_NTFS_FILE_RECORD. For a record not in use the file system
  // answers with the nearest lower record that is.
  virtual NtStatus GetNtfsFileRecord(Handle volume, int64_t fileReference,
                                     NtfsFileRecordOutputBuffer& out) = 0;
  // ZwOpenFile with FILE_OPEN_BY_FILE_ID relative to the volume handle. The
  // identifier is the record number in the low 48 bits and the sequence number
  // in the top 16. On failure the handle is left 0.
  virtual NtStatus OpenFileById(Handle volume, uint64_t fileId, Handle& out) = 0;
  // ZwQueryInformationFile(FileNameInformation): the path from the volume
  // root, failing when it does not fit the 260 characters.
  virtual NtStatus QueryFileName(Handle file, FileNameInformation& out) = 0;

  // FindFirstFile("dir\*.*") to the end, with entries of any attribute, in the
  // device's own order ("." and ".." included when the file system has them).
  // False when the listing cannot be started.
  virtual bool ListDirectory(const std::string& directoryPath,
                             std::vector<DirectoryEntry>& out) = 0;

  virtual void CloseHandle(Handle handle) = 0;
  // ZwQueryInformationFile(FileStreamInformation) on a file or directory
  // handle: its named data streams, in the file system's order. Devices of
  // file systems without streams answer none.
  virtual NtStatus QueryStreams(Handle file, std::vector<StreamInformation>& out) {
    (void)file;
    out.clear();
    return kStatusSuccess;
  }
  // ZwOpenFile of ":name" relative to an open file: a handle on one of its
  // named data streams, which the control calls (retrieval pointers, moves,
  // file information, the file name as "\dir\file:name") then act on.
  virtual NtStatus OpenStream(Handle file, const std::u16string& name, Handle& out) {
    (void)file;
    (void)name;
    out = kInvalidHandle;
    return kStatusObjectNameNotFound;
  }

  // Ends a write session begun by the first move: metadata flushed and the
  // volume marked clean. Called when a pass ends and when the volume is
  // released. Devices that have nothing to do ignore it.
  virtual void EndWriteSession() {}

  // What the device found that the user should be told, as plain texts of
  // a sentence or two: the repair of an interrupted run, damage met on the
  // way, why writes were refused. Empty when there is nothing to tell.
  virtual std::vector<std::string> Notices() const { return {}; }

  // What became of the writes asked for since the device was opened.
  virtual WriteVerdict GetWriteVerdict() const { return {}; }

  // Why the last OpenVolume gave no handle, in a sentence for the user
  // ("... is in use by another process"); empty when there is nothing to
  // add to the failure itself.
  virtual std::string OpenFailure() const { return {}; }
  // What the next OpenVolume is for (see OpeningIntent).
  virtual void SetOpeningIntent(const OpeningIntent& intent) { (void)intent; }
  // The volume is held now in a way that does not serve the intent set
  // last (opened for reading, and a pass is to write): it has to be let go
  // and opened again.
  virtual bool NeedsReopening() const { return false; }
  // The last OpenVolume failed only because access needed the user's
  // authorisation, and the intent did not let it ask for it.
  virtual bool OpenNeedsAuthorisation() const { return false; }
};

} // namespace quillo
