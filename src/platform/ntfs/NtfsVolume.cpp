// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/NtfsVolume.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/InterruptSignal.h"
#include "platform/ntfs/AttributeListLinks.h"
#include "platform/ntfs/CachedStorage.h"
#include "platform/ntfs/ClusterMove.h"
#include "platform/ntfs/ExtentStorage.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/LibraryLog.h"
#include "platform/ntfs/MovePlan.h"
#include "platform/ntfs/NtfsLibrary.h"
#include "platform/ntfs/NtfsVolumeCheck.h"
#include "platform/ntfs/RawMftScan.h"
#include "platform/ntfs/ShadowCopyCatalog.h"
#include "platform/ntfs/ShadowCopyCheck.h"
#include "platform/ntfs/ShutdownCheck.h"

namespace quillo {

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr const char* kFileSystemName = "NTFS";
constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFULL;
constexpr uint16_t kDirtyFlag = 0x0001;
constexpr unsigned kSequenceShift = 48;
// Records below this number belong to the file system (the first 16 are
// its metadata files, 16 to 23 are reserved for it); of them only the root
// directory's index is moved, as Windows' own defragmenter moves it.
constexpr uint64_t kFirstMovableRecord = 24;
constexpr uint32_t kMaximumComponentLength = 255;
// GetVolumeInformation flags of an NTFS volume.
constexpr uint32_t kFileCasePreservedNames = 0x00000002;
constexpr uint32_t kFileUnicodeOnDisk = 0x00000004;
constexpr uint32_t kFilePersistentAcls = 0x00000008;
constexpr uint32_t kFileFileCompression = 0x00000010;
constexpr uint32_t kFileSupportsSparseFiles = 0x00000040;
constexpr uint32_t kNtfsFileSystemFlags = kFileCasePreservedNames | kFileUnicodeOnDisk |
                                          kFilePersistentAcls | kFileFileCompression |
                                          kFileSupportsSparseFiles;
// The Windows attribute bits among the $STANDARD_INFORMATION flags.
constexpr uint32_t kWindowsAttributeMask = 0x0007FFFF;
constexpr unsigned kBitsPerByte = 8;
constexpr size_t kRecordHeaderBytes = sizeof(MFT_RECORD);
// An attribute name is at most this many UTF-16 units (its length is a byte).
constexpr size_t kMaxStreamNameLength = 255;
// Never part of a stream name: they separate a path, a stream and its type.
constexpr std::u16string_view kStreamNameSeparators = u":\\/";

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

std::string LibraryFailure(const std::string& what) {
  std::string detail = LibraryLog::LastError();
  return what + ": " + (detail.empty() ? std::string(std::strerror(errno)) : detail);
}

} // namespace

// --- Opening ---

NtfsVolume::NtfsVolume(NtfsVolumeOptions options) : Options(std::move(options)) {
  // Every write of this process to the volume goes through Options.Storage,
  // which keeps the cache under it coherent.
  Options.Storage = std::make_unique<CachedStorage>(std::move(Options.Storage));
  if (!Options.JournalOpener) Options.JournalOpener = ImageFile::Open;
  Journal = std::make_unique<UndoJournal>(Options.JournalFolder, Options.JournalOpener);
}

std::shared_ptr<NtfsVolume> NtfsVolume::Open(NtfsVolumeOptions options, std::string& why) {
  if (!options.Storage) {
    why = "The volume cannot be opened.";
    return nullptr;
  }
  std::shared_ptr<NtfsVolume> volume(new NtfsVolume(std::move(options)));
  std::lock_guard<std::mutex> guard(volume->Lock);
  if (!volume->Initialise(why)) return nullptr;
  return volume;
}

bool NtfsVolume::Initialise(std::string& why) {
  std::string error;
  BlockStorage& storage = *Options.Storage;
  if (!ReadVolumeIdentity(storage, Identity, why)) return false;
  Bridge = std::make_unique<LibraryDevice>(storage, Options.DeviceName);
  Mount = std::make_unique<NtfsMount>(*Bridge);
  Session = std::make_unique<WriteSession>(*Bridge, *Mount, *Journal, Identity,
                                           Options.VolumeJournalBytes);

  // Only an interrupted session leaves the volume marked dirty with the
  // journal's copy on it; the folder's journal is the fallback for the cuts
  // before the copy exists or after it is gone. A volume whose MFT cannot
  // be read this way counts as dirty: the folder's journal may repair it.
  RawMftScan scan;
  uint16_t flags = 0;
  std::string unread;
  bool scanned = scan.Open(storage, Identity, unread) && scan.ReadVolumeFlags(flags);
  bool dirty = !scanned || (flags & kDirtyFlag);
  RawMftScan::Found found;
  if (scanned && dirty && scan.FindRootFile(kVolumeJournalName, found)) {
    ExtentStorage copy(storage, found.Extents);
    if (!RecoverFromJournal(why, &copy, dirty)) return false;
  } else if (Journal->Exists(Identity) && !RecoverFromJournal(why, nullptr, dirty)) {
    return false;
  }

  if (!Mount->Mount(false, error)) {
    why = "The volume cannot be read: " + error + ".";
    return false;
  }
  // Analysed read-only all the same: what it shows may be out of date, and
  // nothing is written.
  std::string unclean = CheckCleanShutdown(Library());
  if (!unclean.empty()) {
    Refusal = unclean + " Writes are refused until then.";
    Stale = "It is analysed read-only, and what the analysis shows may be out of date.";
  }
  if (uint64_t(Library()->nr_clusters) > UINT32_MAX) {
    why = "The volume has more clusters than this program handles.";
    return false;
  }
  AttributeListLinks lists;
  if (!Catalog.Build(Library(), error, {&Kept, Options.KeptRecordBytes, &Owners, &lists})) {
    why = unclean.empty() ? "The volume is damaged: " + error + ". Run chkdsk; nothing was written."
                          : unclean + " Its metadata cannot be read as it is (" + error + ").";
    return false;
  }
  if (Refusal.empty()) CheckBeforeWrites(lists);
  CheckShadowCopies();
  return true;
}

void NtfsVolume::CheckShadowCopies() {
  ShadowCopyCatalog shadows;
  uint64_t clusterBytes = Library()->cluster_size;
  shadows.Read(*Options.Storage, uint64_t(Library()->nr_clusters) * clusterBytes);
  // The catalog and the stores' lists are found by position: nothing may be
  // moved onto them, whether or not they lie in a file.
  for (const ByteExtent& extent : shadows.Metadata()) {
    int64_t first = int64_t(extent.Offset / clusterBytes);
    int64_t last = int64_t((extent.Offset + extent.Length - 1) / clusterBytes);
    Owners.Take(first, last - first + 1);
  }
  Shadows = ShadowCopyRefusal(shadows);
  if (Refusal.empty()) Refusal = Shadows;
}

void NtfsVolume::CheckBeforeWrites(const AttributeListLinks& lists) {
  std::vector<std::string> problems = NtfsVolumeCheck::Run(Library(), Catalog, Owners, lists);
  if (problems.empty()) return;
  std::string listed;
  for (const std::string& problem : problems) listed += (listed.empty() ? "" : "; ") + problem;
  Refusal = "Writes are refused: the volume's metadata is inconsistent, and moving files on it "
            "could destroy data in use (" + listed + "). Run chkdsk /f from Windows; nothing was "
            "written.";
}

bool NtfsVolume::RecoverFromJournal(std::string& why, BlockStorage* volumeCopy, bool dirty) {
  // The repair writes: a Ctrl-C waits for it.
  InterruptHold hold;
  std::string error;
  if (!Options.Storage->Writable()) {
    why = "An interrupted run left a recovery journal (" +
          (volumeCopy ? std::string("on the volume") : Journal->PathFor(Identity).string()) +
          "), but the volume is open read-only: it must be writable to be recovered.";
    return false;
  }
  JournalRecovery recovery = Journal->Recover(*Options.Storage, Identity, volumeCopy, dirty);
  switch (recovery.Outcome) {
  case JournalRecovery::Result::Clean:
    return true;
  case JournalRecovery::Result::Mismatch:
  case JournalRecovery::Result::Failed:
    why = recovery.Message;
    return false;
  case JournalRecovery::Result::Resumed:
    break;
  }
  // Mount for writing and end the session: the flags of before it return.
  if (!Mount->Mount(true, error)) {
    why = "Recovery from the journal: the volume cannot be mounted: " + error + ".";
    return false;
  }
  Session->Resume(recovery.FlagsBefore);
  if (!Session->End(error)) {
    Mount->Unmount();
    why = "Recovery from the journal could not finish: " + error + ".";
    return false;
  }
  Mount->Unmount();
  Recovery = recovery.Message;
  return true;
}

NtfsVolume::~NtfsVolume() {
  std::lock_guard<std::mutex> guard(Lock);
  EndSessionLocked();
  Opened.DetachAll();
  if (Mount) Mount->Unmount();
}

std::string NtfsVolume::RecoveryNote() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Recovery;
}

std::string NtfsVolume::LastProblem() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Problem;
}

std::vector<std::string> NtfsVolume::Notices() const {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<std::string> notices;
  if (!Recovery.empty())
    notices.push_back("An earlier run was interrupted; the volume was repaired from its journal. " +
                      Recovery);
  if (!Refusal.empty()) notices.push_back(Refusal);
  if (!Shadows.empty() && Shadows != Refusal) notices.push_back(Shadows);
  if (!Stale.empty()) notices.push_back(Stale);
  if (!Problem.empty() && Problem != Refusal) notices.push_back(Problem);
  if (!Failure.empty() && Failure != Problem) notices.push_back(Failure);
  return notices;
}

WriteVerdict NtfsVolume::GetWriteVerdict() const {
  std::lock_guard<std::mutex> guard(Lock);
  if (Broken) return {WriteVerdict::Kind::Failed, Problem};
  if (!Failure.empty()) return {WriteVerdict::Kind::Failed, Failure};
  if (!Refusal.empty()) return {WriteVerdict::Kind::Refused, Refusal};
  return {};
}

// --- Mounts and sessions ---

bool NtfsVolume::Remount(bool writable, std::string& error) {
  Opened.DetachAll();
  Mount->Unmount();
  Records.Invalidate();
  return Mount->Mount(writable, error);
}

void NtfsVolume::MarkBroken(const std::string& why) {
  Broken = true;
  Problem = why + " The volume is repaired from the journal when it is opened next.";
  Opened.DetachAll();
  Mount->Unmount();
}

bool NtfsVolume::BeginWriteSession() {
  if (Session->Active()) return true;
  if (!Refusal.empty()) return false;
  // Moves rewrite records: from now on they are read from the volume.
  Kept.Release();
  if (!Options.Storage->Writable()) {
    Problem = Refusal = "The volume is open read-only: nothing can be moved.";
    return false;
  }
  if (!SettleLeftoverVolumeJournal()) return false;
  std::string error;
  if (!Remount(true, error)) {
    Problem = Refusal = "The volume cannot be mounted for writing: " + error + ".";
    std::string ignored;
    Remount(false, ignored);
    return false;
  }
  std::string unclean = CheckCleanShutdown(Library());
  if (unclean.empty() && Session->Begin(error, &Owners)) {
    // Nothing is moved onto the journal's copy.
    uint64_t clusterBytes = Library()->cluster_size;
    for (const ByteExtent& extent : Session->VolumeJournal()->Extents)
      Owners.Take(int64_t(extent.Offset / clusterBytes), int64_t(extent.Length / clusterBytes));
    return true;
  }
  Problem = unclean.empty() ? "The write session cannot begin: " + error + "." : unclean;
  if (Session->Active()) {
    MarkBroken(Problem);
    return false;
  }
  Refusal = Problem;
  std::string ignored;
  Remount(false, ignored);
  return false;
}

bool NtfsVolume::SettleLeftoverVolumeJournal() {
  // Its clusters and record stay taken until then, and a new session's file
  // would not be the one recovery finds. The MFT is read once more for it
  // only when a pass is about to write.
  RawMftScan scan;
  RawMftScan::Found found;
  std::string unread;
  if (!scan.Open(*Options.Storage, Identity, unread) || !scan.FindRootFile(kVolumeJournalName, found))
    return true;
  Opened.DetachAll();
  Mount->Unmount();
  Records.Invalidate();
  ExtentStorage copy(*Options.Storage, found.Extents);
  std::string why;
  // As with a folder's journal on a clean volume: ended when it asks for no
  // writes, refused with nothing written otherwise.
  if (RecoverFromJournal(why, &copy, false)) {
    // Its clusters are free now: the new session's file may take them.
    uint64_t clusterBytes = Identity.BytesPerCluster;
    for (const ByteExtent& extent : found.Extents)
      Owners.GiveUp(int64_t(extent.Offset / clusterBytes), int64_t(extent.Length / clusterBytes));
    return true;
  }
  Problem = Refusal = why;
  std::string ignored;
  Remount(false, ignored);
  return false;
}

void NtfsVolume::AbandonUpdate() {
  Bridge->Pending().Clear();
  std::string error;
  if (!Remount(true, error)) MarkBroken("The volume cannot be mounted again after a failed move: " + error + ".");
}

void NtfsVolume::AbandonMove() {
  // Closing the inodes may still write the failed move's changes: they go
  // with it.
  Opened.DetachAll();
  PendingWrites& pending = Bridge->Pending();
  pending.RollBack();
  // Unmounting drops whatever is held; the moves before the failed one are
  // kept aside and held again for the new mount, which reads through them.
  PendingWrites kept = std::move(pending);
  Mount->Unmount();
  Records.Invalidate();
  pending = std::move(kept);
  std::string error;
  if (!Mount->Mount(true, error))
    MarkBroken("The volume cannot be mounted again after a failed move: " + error + ".");
}

bool NtfsVolume::CommitGroupLocked() {
  if (Group.Moves == 0) return true;
  MoveGroup group = std::move(Group);
  Group = {};
  std::string error;
  CommitResult result = Session->Commit(error);
  if (result == CommitResult::Committed) {
    for (const MovedPiece& piece : group.Pieces) Owners.GiveUp(piece.OldLcn, piece.Length);
    return true;
  }
  // Every move of the group was answered as done: the pass must not end as
  // if they were.
  for (const MovedPiece& piece : group.Pieces) Owners.GiveUp(piece.NewLcn, piece.Length);
  Failure = "The last " + std::to_string(group.Moves) + " moves could not be written (" + error +
            ") and were undone; every file is where it was before them.";
  if (result == CommitResult::Undone) {
    Problem = Failure;
    AbandonUpdate();
  } else {
    MarkBroken("Moves could not be written: " + error + ".");
  }
  return false;
}

void NtfsVolume::EndSessionLocked() {
  if (!Session || !Session->Active() || Broken) return;
  if (!CommitGroupLocked()) return;
  Opened.DetachAll();
  std::string error;
  std::optional<VolumeJournalPlace> place = Session->VolumeJournal();
  if (!Session->End(error)) {
    Problem = "The write session could not be closed: " + error + ".";
    MarkBroken(Problem);
    return;
  }
  uint64_t clusterBytes = Library()->cluster_size;
  for (const ByteExtent& extent : place ? place->Extents : std::vector<ByteExtent>{})
    Owners.GiveUp(int64_t(extent.Offset / clusterBytes), int64_t(extent.Length / clusterBytes));
  if (!Remount(false, error))
    Problem = Failure = "The volume cannot be mounted again: " + error + ".";
}

void NtfsVolume::EndWriteSession() {
  std::lock_guard<std::mutex> guard(Lock);
  EndSessionLocked();
}

// --- Handles and files ---

bool NtfsVolume::IsVolumeHandle(Handle handle) {
  HandleEntry* entry = Opened.Find(handle);
  return entry && entry->IsVolume;
}

HandleEntry* NtfsVolume::FileOfHandle(Handle handle) {
  HandleEntry* entry = Opened.Find(handle);
  return entry && !entry->IsVolume && !Broken ? entry : nullptr;
}

OpenFile* NtfsVolume::AttachedFile(Handle handle) {
  HandleEntry* entry = FileOfHandle(handle);
  return entry ? Opened.Attach(Library(), *entry) : nullptr;
}

const CatalogEntry* NtfsVolume::KnownStream(const HandleEntry& entry) const {
  // The catalog holds what it reads of the file's own stream only.
  if (!entry.Stream.empty()) return nullptr;
  const CatalogEntry* known = Catalog.Current(entry.Record);
  return known && known->Stream != StreamKind::Unknown ? known : nullptr;
}

bool NtfsVolume::LibraryPath(const std::string& path, std::string& out) const {
  if (!StartsWithNoCase(path, Options.VolumeName)) return false;
  std::string rest = path.substr(Options.VolumeName.size());
  if (rest.size() >= 3 && rest.compare(rest.size() - 3, 3, "*.*") == 0) rest.resize(rest.size() - 3);
  if (rest.empty() || rest[0] != '\\') return false;
  std::replace(rest.begin(), rest.end(), '\\', '/');
  while (rest.size() > 1 && rest.back() == '/') rest.pop_back();
  out = rest;
  return true;
}

ntfs_inode* NtfsVolume::OpenPath(const std::string& path) {
  std::string libraryPath;
  if (Broken || !Library() || !LibraryPath(path, libraryPath)) return nullptr;
  // The library's lookups open inodes, which it forbids for inodes already
  // open: let go of ours (they are opened again when next used).
  Opened.DetachAll();
  if (libraryPath == "/") return ntfs_inode_open(Library(), FILE_root);
  ntfs_inode* inode = ntfs_pathname_to_inode(Library(), nullptr, libraryPath.c_str());
  return inode;
}

uint32_t NtfsVolume::WindowsAttributes(uint32_t flags, bool directory) {
  uint32_t attributes = flags & kWindowsAttributeMask & ~kFileAttributeDirectory;
  if (directory) attributes |= kFileAttributeDirectory;
  if (attributes == 0) attributes = kFileAttributeNormal;
  return attributes;
}

uint32_t NtfsVolume::AttributesOf(ntfs_inode* inode) const {
  return WindowsAttributes(le32_to_cpu(inode->flags), (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0);
}

bool NtfsVolume::RefusesMove(uint64_t record) const {
  // The root is a directory like any other: its index allocation moves.
  if ((record < kFirstMovableRecord && record != FILE_root) || Catalog.IsUnderExtend(record))
    return true;
  // The journal's copy is written where it lies.
  if (Session && Session->VolumeJournal() && Session->VolumeJournal()->Record == record) return true;
  // Shadow-copy stores and their catalog are found by position.
  std::u16string path;
  return Catalog.PathOf(record, path) && ShadowCopyCatalog::IsMetadataFile(path);
}

// --- VolumeDevice ---

Handle NtfsVolume::OpenVolume(const std::string& devicePath) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Lower(devicePath) != Lower(kDevicePrefix + Options.VolumeName)) return kInvalidHandle;
  return Opened.AddVolume();
}

bool NtfsVolume::GetGeometry(const std::string& rootPath, DiskGeometry& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Broken || !Library() || !StartsWithNoCase(rootPath, Options.VolumeName)) return false;
  ntfs_volume* volume = Library();
  out.SectorsPerCluster = volume->cluster_size / volume->sector_size;
  out.BytesPerSector = volume->sector_size;
  out.NumberOfFreeClusters = uint32_t(std::max<s64>(volume->free_clusters, 0));
  out.TotalNumberOfClusters = uint32_t(volume->nr_clusters);
  return true;
}

bool NtfsVolume::GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Broken || !Library() || !StartsWithNoCase(rootPath, Options.VolumeName)) return false;
  ntfs_volume* volume = Library();
  out.TotalNumberOfBytes = uint64_t(volume->nr_clusters) * volume->cluster_size;
  out.TotalNumberOfFreeBytes = uint64_t(std::max<s64>(volume->free_clusters, 0)) * volume->cluster_size;
  out.FreeBytesAvailable = out.TotalNumberOfFreeBytes;
  return true;
}

bool NtfsVolume::GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                                      VolumeInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Broken || !Library() || !StartsWithNoCase(rootPath, Options.VolumeName)) return false;
  if (std::strlen(kFileSystemName) + 1 > nameCapacity) return false;
  out.VolumeLabel = Library()->vol_name ? Library()->vol_name : "";
  out.SerialNumber = uint32_t(Identity.SerialNumber);
  out.MaximumComponentLength = kMaximumComponentLength;
  out.FileSystemFlags = kNtfsFileSystemFlags;
  out.FileSystemName = kFileSystemName;
  return true;
}

NtStatus NtfsVolume::GetVolumeBitmap(Handle volume, int64_t startingLcn, VolumeBitmapBuffer& out,
                                     IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  if (Broken || !Library()) return kStatusUnsuccessful;
  int64_t total = Library()->nr_clusters;
  if (startingLcn < 0 || startingLcn >= total) return kStatusInvalidParameter;
  // Answers start on a byte boundary of the bitmap.
  int64_t base = startingLcn / kBitsPerByte * kBitsPerByte;
  int64_t remaining = total - base;
  int64_t count = std::min<int64_t>(remaining, kBitmapCapacityClusters);
  s64 bytes = (count + kBitsPerByte - 1) / kBitsPerByte;
  if (ntfs_attr_pread(Library()->lcnbmp_na, base / kBitsPerByte, bytes, out.Buffer) != bytes)
    return kStatusUnsuccessful;
  // Clusters that held moves have left stay in use until those moves are
  // committed: until then their old places are what the volume points to.
  for (const MovedPiece& piece : Group.Pieces) {
    int64_t from = std::max<int64_t>(piece.OldLcn, base);
    int64_t to = std::min<int64_t>(piece.OldLcn + piece.Length, base + count);
    for (int64_t lcn = from; lcn < to; ++lcn)
      out.Buffer[(lcn - base) / kBitsPerByte] |= uint8_t(1u << ((lcn - base) % kBitsPerByte));
  }
  // Bits past the last cluster mean nothing.
  if (count % kBitsPerByte) out.Buffer[bytes - 1] &= uint8_t((1u << (count % kBitsPerByte)) - 1);
  out.StartingLcn = base;
  out.BitmapSize = remaining;
  NtStatus status = remaining > int64_t(kBitmapCapacityClusters) ? kStatusBufferOverflow
                                                                  : kStatusSuccess;
  iosb.Status = status;
  return status;
}

uint32_t NtfsVolume::GetFileAttributes(const std::string& path) {
  std::lock_guard<std::mutex> guard(Lock);
  ntfs_inode* inode = OpenPath(path);
  if (!inode) return kInvalidFileAttributes;
  uint32_t attributes = AttributesOf(inode);
  ntfs_inode_close(inode);
  return attributes;
}

Handle NtfsVolume::CreateFile(const std::string& path, uint32_t, uint32_t,
                              uint32_t flagsAndAttributes) {
  std::lock_guard<std::mutex> guard(Lock);
  ntfs_inode* inode = OpenPath(path);
  if (!inode) return kInvalidHandle;
  // As on Windows, a directory opens only with backup semantics.
  if ((inode->mrec->flags & MFT_RECORD_IS_DIRECTORY) &&
      !(flagsAndAttributes & kFileFlagBackupSemantics)) {
    ntfs_inode_close(inode);
    return kInvalidHandle;
  }
  return Opened.AddInode(Library(), inode);
}

bool NtfsVolume::GetFileInformationByHandle(Handle handle, FileInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  HandleEntry* entry = FileOfHandle(handle);
  if (!entry) return false;
  // What the pass over the MFT read, as long as no move has changed it.
  if (const CatalogEntry* known = KnownStream(*entry)) {
    out.FileAttributes = WindowsAttributes(known->FileAttributes, known->Directory);
    out.LastWriteTime = known->LastWriteTime;
    out.FileSize = known->Directory ? 0 : known->DataSize;
    return true;
  }
  OpenFile* file = Opened.Attach(Library(), *entry);
  if (!file) return false;
  out.FileAttributes = AttributesOf(file->Inode);
  out.LastWriteTime = uint64_t(sle64_to_cpu(file->Inode->last_data_change_time));
  out.FileSize = 0;
  if (!entry->Stream.empty()) {
    // A stream holds data even on a directory: it is sized and ranked as a file.
    out.FileAttributes = WindowsAttributes(out.FileAttributes & ~kFileAttributeDirectory, false);
    if (!OpenFiles::AttachStream(*file, entry->Stream) || !file->Stream) return false;
    out.FileSize = uint64_t(file->Stream->data_size);
  } else if (!file->Directory) {
    if (!OpenFiles::AttachStream(*file)) return false;
    if (file->Stream) out.FileSize = uint64_t(file->Stream->data_size);
  }
  return true;
}

NtStatus NtfsVolume::GetRetrievalPointers(Handle handle, int64_t startingVcn,
                                          RetrievalPointersBuffer& out, IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  HandleEntry* entry = FileOfHandle(handle);
  if (!entry) return kStatusInvalidHandle;
  std::vector<ClusterRun> mapped;
  std::span<const ClusterRun> runs;
  if (const CatalogEntry* catalogued = KnownStream(*entry)) {
    // No stream, or data inside the record: no clusters of its own.
    if (catalogued->Stream != StreamKind::NonResident) return kStatusEndOfFile;
    runs = Catalog.Runs(entry->Record);
  } else {
    OpenFile* file = Opened.Attach(Library(), *entry);
    if (!file || !OpenFiles::AttachStream(*file, entry->Stream)) return kStatusFileCorruptError;
    if (!file->Stream || !NAttrNonResident(file->Stream)) return kStatusEndOfFile;
    if (ntfs_attr_map_whole_runlist(file->Stream) != 0) return kStatusFileCorruptError;
    for (const runlist_element* run = file->Stream->rl; run && run->length; ++run) {
      if (run->lcn < LCN_HOLE) return kStatusFileCorruptError;
      mapped.push_back({run->vcn, run->lcn < 0 ? -1 : run->lcn, run->length});
    }
    mapped = MovePlan::Join(mapped);
    runs = mapped;
  }
  if (runs.empty()) return kStatusEndOfFile;
  int64_t totalVcns = runs.back().Vcn + runs.back().Length;
  if (startingVcn < 0 || startingVcn >= totalVcns) return kStatusEndOfFile;

  // The answer starts with the run that holds the VCN asked for.
  size_t first = 0;
  while (runs[first].Vcn + runs[first].Length <= startingVcn) ++first;
  out.StartingVcn = runs[first].Vcn;
  out.ExtentCount = 0;
  size_t i = first;
  for (; i < runs.size() && out.ExtentCount < kRetrievalCapacity; ++i)
    out.Extents[out.ExtentCount++] = {runs[i].Vcn + runs[i].Length, runs[i].Lcn};
  NtStatus status = i < runs.size() ? kStatusBufferOverflow : kStatusSuccess;
  iosb.Status = status;
  return status;
}

NtStatus NtfsVolume::MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  auto answer = [&](NtStatus status) {
    iosb.Status = status;
    return status;
  };
  if (!IsVolumeHandle(volume)) return answer(kStatusInvalidHandle);
  if (Broken) return answer(kStatusUnsuccessful);
  // Nothing is written to a volume whose check before writes failed.
  if (!Refusal.empty()) return answer(kStatusMediaWriteProtected);
  HandleEntry* handle = FileOfHandle(data.FileHandle);
  if (!handle) return answer(kStatusInvalidHandle);
  uint64_t record = handle->Record;
  // The file system's own structures stay where they are.
  if (RefusesMove(record)) return answer(kStatusAccessDenied);
  if (data.ClusterCount == 0 || data.StartingVcn < 0 || data.StartingLcn < 0)
    return answer(kStatusInvalidParameter);

  // Refusals need no write session: they are found on the read-only mount.
  const std::u16string stream = handle->Stream;
  OpenFile* file = AttachedFile(data.FileHandle);
  if (!file) return answer(kStatusInvalidHandle);
  if (!OpenFiles::AttachStream(*file, stream)) return answer(kStatusFileCorruptError);
  if (!file->Stream || !NAttrNonResident(file->Stream)) return answer(kStatusEndOfFile);
  int64_t clusters = 0;
  NtStatus checked = ClusterMove(Library(), *Bridge, &Owners)
                         .Check(*file, data.StartingVcn, data.StartingLcn, data.ClusterCount,
                                clusters);
  if (checked != kStatusSuccess || clusters == 0) return answer(checked);

  if (!BeginWriteSession()) return answer(kStatusMediaWriteProtected);
  file = AttachedFile(data.FileHandle);
  if (!file) return answer(kStatusInvalidHandle);
  if (!OpenFiles::AttachStream(*file, stream)) return answer(kStatusFileCorruptError);

  LibraryLog::Reset();
  // The moves held before this one are kept whatever becomes of it.
  Bridge->Pending().MarkSavepoint();
  ClusterMove move(Library(), *Bridge, &Owners);
  NtStatus status = move.Run(*file, data.StartingVcn, data.StartingLcn, data.ClusterCount);
  if (status != kStatusSuccess) {
    if (status != kStatusAlreadyCommitted && status != kStatusInvalidParameter &&
        status != kStatusEndOfFile) {
      Problem = LibraryFailure("Moving clusters of MFT record " + std::to_string(record) +
                               " failed");
      AbandonMove();
    } else {
      Bridge->Pending().RollBack();
    }
    return answer(status);
  }
  Session->SyncSystemInodes();
  Records.Invalidate();
  Catalog.MarkChanged(record);
  uint64_t clusterBytes = Library()->cluster_size;
  for (const MovedPiece& piece : move.Moved()) {
    Owners.Take(piece.NewLcn, piece.Length);
    Group.Pieces.push_back(piece);
    Group.Bytes += uint64_t(piece.Length) * clusterBytes;
  }
  ++Group.Moves;
  if ((Group.Moves >= Options.GroupMoves || Group.Bytes >= Options.GroupBytes ||
       Session->NearlyFull()) &&
      !CommitGroupLocked())
    return answer(kStatusUnsuccessful);
  return answer(kStatusSuccess);
}

NtStatus NtfsVolume::GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  if (Broken || !Library()) return kStatusUnsuccessful;
  ntfs_volume* ntfs = Library();
  std::memset(&out, 0, sizeof(out));
  out.VolumeSerialNumber = int64_t(Identity.SerialNumber);
  out.NumberSectors = int64_t(Identity.TotalSectors);
  out.TotalClusters = ntfs->nr_clusters;
  out.FreeClusters = ntfs->free_clusters;
  out.BytesPerSector = ntfs->sector_size;
  out.BytesPerCluster = ntfs->cluster_size;
  out.BytesPerFileRecordSegment = ntfs->mft_record_size;
  out.ClustersPerFileRecordSegment = ntfs->mft_record_size / ntfs->cluster_size;
  out.MftValidDataLength = ntfs->mft_na->initialized_size;
  out.MftStartLcn = ntfs->mft_lcn;
  out.Mft2StartLcn = ntfs->mftmirr_lcn;
  // NTFS keeps no MFT zone on disk: this is libntfs-3g's own estimate of
  // where its allocator keeps the zone, as Windows' answer is its driver's.
  out.MftZoneStart = ntfs->mft_zone_start;
  out.MftZoneEnd = ntfs->mft_zone_end;
  return kStatusSuccess;
}

NtStatus NtfsVolume::GetNtfsFileRecord(Handle volume, int64_t fileReference,
                                       NtfsFileRecordOutputBuffer& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  if (Broken || !Library()) return kStatusUnsuccessful;
  if (fileReference < 0) return kStatusInvalidParameter;
  ntfs_volume* ntfs = Library();
  uint64_t count = MftRecordReader::RecordCount(ntfs);
  if (count == 0) return kStatusInvalidParameter;
  // A record not in use answers with the nearest lower record that is.
  uint64_t wanted = std::min<uint64_t>(uint64_t(fileReference) & kRecordNumberMask, count - 1);
  int64_t candidate = Records.InUseAtOrBelow(ntfs, wanted);
  while (candidate >= 0) {
    // The record up to the end of its attributes; what lies past
    // bytes_in_use is unused space, and is answered as zeros. Records kept
    // from opening passed their checks then, and are kept only that far.
    size_t length = 0;
    const uint8_t* data = Kept.Find(uint64_t(candidate), length);
    if (!data) {
      data = Records.Read(ntfs, uint64_t(candidate));
      const auto* record = reinterpret_cast<const MFT_RECORD*>(data);
      if (data && ntfs_is_file_record(record->magic) && (record->flags & MFT_RECORD_IN_USE))
        length = std::min<size_t>({ntfs->mft_record_size, sizeof(out.FileRecordBuffer),
                                   std::max<size_t>(le32_to_cpu(record->bytes_in_use), kRecordHeaderBytes)});
      else
        data = nullptr;
    }
    if (data) {
      uint16_t sequence = le16_to_cpu(reinterpret_cast<const MFT_RECORD*>(data)->sequence_number);
      out.FileReferenceNumber = int64_t(uint64_t(candidate) | (uint64_t(sequence) << kSequenceShift));
      out.FileRecordLength = ntfs->mft_record_size;
      std::memcpy(out.FileRecordBuffer, data, length);
      std::memset(out.FileRecordBuffer + length, 0, sizeof(out.FileRecordBuffer) - length);
      return kStatusSuccess;
    }
    if (candidate == 0) break;
    candidate = Records.InUseAtOrBelow(ntfs, uint64_t(candidate - 1));
  }
  return kStatusInvalidParameter;
}

NtStatus NtfsVolume::OpenFileById(Handle volume, uint64_t fileId, Handle& out) {
  std::lock_guard<std::mutex> guard(Lock);
  out = 0;
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  if (Broken || !Library()) return kStatusUnsuccessful;
  uint64_t record = fileId & kRecordNumberMask;
  uint16_t sequence = uint16_t(fileId >> kSequenceShift);
  if (const OpenFile* open = Opened.Holding(record)) {
    if (open->Sequence != sequence) return kStatusInvalidParameter;
    out = Opened.AddFile(record, sequence, open->Directory);
    return kStatusSuccess;
  }
  if (const CatalogEntry* known = Catalog.Current(record)) {
    // Base records keep their use and sequence number while this program
    // moves clusters: the pass over the MFT answers, no inode is needed.
    if (!known->InUse || known->Extent) return kStatusObjectNameNotFound;
    if (known->Sequence != sequence) return kStatusInvalidParameter;
    out = Opened.AddFile(record, sequence, known->Directory);
    return kStatusSuccess;
  }
  ntfs_inode* inode = ntfs_inode_open(Library(), MK_MREF(record, 0));
  if (!inode) return kStatusObjectNameNotFound;
  const MFT_RECORD* header = inode->mrec;
  NtStatus refused = kStatusSuccess;
  if (!(header->flags & MFT_RECORD_IN_USE) || header->base_mft_record != 0)
    refused = kStatusObjectNameNotFound;
  else if (le16_to_cpu(header->sequence_number) != sequence)
    refused = kStatusInvalidParameter;
  if (refused != kStatusSuccess) {
    ntfs_inode_close(inode);
    return refused;
  }
  out = Opened.AddInode(Library(), inode);
  return out == kInvalidHandle ? kStatusObjectNameNotFound : kStatusSuccess;
}

NtStatus NtfsVolume::QueryFileName(Handle handle, FileNameInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  HandleEntry* entry = FileOfHandle(handle);
  if (!entry) return kStatusInvalidHandle;
  std::u16string path;
  if (!Catalog.PathOf(entry->Record, path)) return kStatusObjectNameNotFound;
  if (!entry->Stream.empty()) path += u":" + entry->Stream;
  out.FileNameLength = uint32_t(path.size() * sizeof(char16_t));
  if (path.size() > kFileNameCapacity) return kStatusBufferOverflow;
  std::copy(path.begin(), path.end(), out.FileName);
  return kStatusSuccess;
}

namespace {

struct Listing {
  std::vector<std::pair<std::u16string, uint64_t>> Entries; // name, record
};

int CollectEntry(void* context, const ntfschar* name, const int length, const int nameType,
                 const s64, const MFT_REF reference, const unsigned) {
  if (nameType == FILE_NAME_DOS) return 0;
  auto* listing = static_cast<Listing*>(context);
  std::u16string text(size_t(length), u'\0');
  std::memcpy(text.data(), name, size_t(length) * sizeof(char16_t));
  listing->Entries.emplace_back(std::move(text), MREF(reference));
  return 0;
}

} // namespace

bool NtfsVolume::ListDirectory(const std::string& directoryPath, std::vector<DirectoryEntry>& out) {
  std::lock_guard<std::mutex> guard(Lock);
  out.clear();
  ntfs_inode* directory = OpenPath(directoryPath);
  if (!directory) return false;
  bool isRoot = directory->mft_no == FILE_root;
  Listing listing;
  s64 position = 0;
  bool listed = (directory->mrec->flags & MFT_RECORD_IS_DIRECTORY) &&
                ntfs_readdir(directory, &position, &listing, CollectEntry) == 0;
  ntfs_inode_close(directory);
  if (!listed) return false;
  for (auto& [name, record] : listing.Entries) {
    bool dotEntry = name == u"." || name == u"..";
    // The root lists no dot entries and none of the metadata files.
    if (isRoot && (dotEntry || record < FILE_first_user)) continue;
    DirectoryEntry entry;
    entry.Name = name;
    entry.FileAttributes = kFileAttributeDirectory;
    if (!dotEntry) {
      ntfs_inode* child = ntfs_inode_open(Library(), MK_MREF(record, 0));
      if (!child) continue;
      entry.FileAttributes = AttributesOf(child);
      ntfs_inode_close(child);
    }
    out.push_back(std::move(entry));
  }
  return true;
}

void NtfsVolume::CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> guard(Lock);
  Opened.Close(handle);
}

NtStatus NtfsVolume::QueryStreams(Handle handle, std::vector<StreamInformation>& out) {
  std::lock_guard<std::mutex> guard(Lock);
  out.clear();
  HandleEntry* entry = FileOfHandle(handle);
  if (!entry) return kStatusInvalidHandle;
  if (!entry->Stream.empty()) return kStatusInvalidParameter;
  // Most files have none, and the pass over the MFT saw that.
  if (const CatalogEntry* known = KnownStream(*entry); known && !known->NamedStreams)
    return kStatusSuccess;
  OpenFile* file = Opened.Attach(Library(), *entry);
  if (!file) return kStatusFileCorruptError;
  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(file->Inode, nullptr);
  if (!context) return kStatusUnsuccessful;
  // A null name matches every $DATA, named or not, through an attribute list too.
  while (ntfs_attr_lookup(AT_DATA, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, context) == 0) {
    const ATTR_RECORD* attribute = context->attr;
    // A stream spread over extent records has a header in each; the first
    // one (from VCN 0) tells its sizes.
    if (attribute->name_length == 0 ||
        (attribute->non_resident && sle64_to_cpu(attribute->lowest_vcn) != 0))
      continue;
    const auto* units = reinterpret_cast<const ntfschar*>(
        reinterpret_cast<const uint8_t*>(attribute) + le16_to_cpu(attribute->name_offset));
    StreamInformation stream;
    for (u8 i = 0; i < attribute->name_length; ++i)
      stream.Name.push_back(char16_t(le16_to_cpu(units[i])));
    if (attribute->non_resident) {
      stream.Size = uint64_t(sle64_to_cpu(attribute->data_size));
      stream.AllocationSize = uint64_t(sle64_to_cpu(attribute->allocated_size));
    } else {
      stream.Size = le32_to_cpu(attribute->value_length);
    }
    out.push_back(std::move(stream));
  }
  bool listed = errno == ENOENT;
  ntfs_attr_put_search_ctx(context);
  if (listed) return kStatusSuccess;
  out.clear();
  return kStatusFileCorruptError;
}

NtStatus NtfsVolume::OpenStream(Handle handle, const std::u16string& name, Handle& out) {
  std::lock_guard<std::mutex> guard(Lock);
  out = kInvalidHandle;
  HandleEntry* entry = FileOfHandle(handle);
  if (!entry) return kStatusInvalidHandle;
  if (!entry->Stream.empty() || name.empty() || name.size() > kMaxStreamNameLength ||
      name.find_first_of(kStreamNameSeparators) != std::u16string::npos)
    return kStatusInvalidParameter;
  OpenFile* file = Opened.Attach(Library(), *entry);
  if (!file) return kStatusObjectNameNotFound;
  if (!OpenFiles::AttachStream(*file, name)) return kStatusFileCorruptError;
  if (!file->Stream) return kStatusObjectNameNotFound;
  out = Opened.AddStream(*entry, name);
  return kStatusSuccess;
}

} // namespace quillo
