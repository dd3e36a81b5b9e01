// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatVolume.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/TextCodec.h"
#include "platform/fat/ClusterRuns.h"
#include "platform/fat/DosTime.h"
#include "platform/fat/FatVolumeCheck.h"

namespace quillo::fat {

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr const char* kFileSystemName = "FAT32";
constexpr uint32_t kMaxComponentLength = 255;
constexpr uint32_t kFileCasePreservedNames = 0x00000002;
constexpr uint32_t kFileUnicodeOnDisk = 0x00000004;
constexpr uint32_t kFileReadOnlyVolume = 0x00080000;
// The attribute bits a FAT entry shares with Windows.
constexpr uint8_t kVisibleAttributes =
    kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
constexpr const char* kNoBootLabel = "NO NAME";
constexpr int64_t kBitsPerByte = 8;

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

uint32_t WindowsAttributes(uint8_t attributes) {
  uint32_t visible = attributes & kVisibleAttributes;
  return visible == 0 ? kFileAttributeNormal : visible;
}

// "dir\*.*", "dir\*" and "dir\" all name the directory "dir".
std::string DirectoryOfPattern(std::string path) {
  for (const char* pattern : {"*.*", "*"}) {
    size_t length = std::strlen(pattern);
    if (path.size() >= length && path.compare(path.size() - length, length, pattern) == 0) {
      path.resize(path.size() - length);
      break;
    }
  }
  return path;
}

} // namespace

std::unique_ptr<FatVolume> FatVolume::Open(const std::string& volumeName,
                                           std::unique_ptr<BlockDevice> device,
                                           std::string& why) {
  BootSector boot;
  if (device->Size() < sizeof(boot)) {
    why = "the device is too small to hold a boot sector";
    return nullptr;
  }
  if (!device->ReadAt(0, &boot, sizeof(boot))) {
    why = "the boot sector cannot be read";
    return nullptr;
  }
  FatLayout layout;
  why = ValidateBootSector(boot, device->Size(), layout);
  if (!why.empty()) return nullptr;
  if (layout.FsInfoSector != 0) {
    FsInfoSector info;
    uint64_t offset = uint64_t(layout.FsInfoSector) * layout.BytesPerSector;
    if (!device->ReadAt(offset, &info, sizeof(info)) || !IsValidFsInfo(info))
      layout.FsInfoSector = 0; // a hint not worth keeping, and never written
  }

  std::unique_ptr<FatVolume> volume(new FatVolume(volumeName, std::move(device), layout));
  why = volume->Table.Load(volume->Device, volume->Geometry);
  if (!why.empty()) return nullptr;
  DirectoryRead root = volume->Names.ReadDirectory(layout.RootCluster);
  if (!root.Data) {
    why = "the root directory cannot be read: " + root.Describe();
    return nullptr;
  }
  return volume;
}

FatVolume::FatVolume(const std::string& volumeName, std::unique_ptr<BlockDevice> device,
                     const FatLayout& layout)
    : VolumeName(volumeName), Storage(std::move(device)), Geometry(layout),
      Device(*Storage, layout.BytesPerSector), Names(Device, Geometry, Table),
      Session(Device, Geometry, Table,
              [this] {
                FatVolumeCheck check(Names, Table, Geometry);
                return check.Run();
              }),
      Commits(Device, Table), Mover(Device, Geometry, Table, Names, Session, Commits) {}

FatVolume::~FatVolume() { FinishWrites(); }

void FatVolume::FinishWrites() {
  if (Session.IsOpen() && !Commits.Commit()) Session.Fail();
  Session.End();
}

void FatVolume::SetCommitLimits(const CommitLimits& limits) {
  std::lock_guard<std::mutex> guard(Lock);
  Commits.SetLimits(limits);
}

std::vector<std::string> FatVolume::Problems() const {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<std::string> all = ProblemLog;
  for (const std::string& reason : Session.Refusals()) all.push_back(reason);
  return all;
}

WriteVerdict FatVolume::GetWriteVerdict() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Session.Verdict();
}

void FatVolume::Record(const std::u16string& path, const std::string& what) {
  std::string utf8;
  if (!Utf16ToUtf8(path, utf8)) utf8 = "(unreadable name)";
  std::string text = VolumeName + utf8 + ": " + what;
  if (ProblemSet.insert(text).second) ProblemLog.push_back(std::move(text));
}

bool FatVolume::OnThisVolume(const std::string& path) const {
  if (path.size() < VolumeName.size()) return false;
  for (size_t i = 0; i < VolumeName.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(path[i])) !=
        std::tolower(static_cast<unsigned char>(VolumeName[i])))
      return false;
  return path.size() == VolumeName.size() || path[VolumeName.size()] == '\\';
}

FatVolume::Resolution FatVolume::Corrupt(const std::string& path, const std::string& problem) {
  std::u16string wide;
  Utf8ToUtf16(path.substr(VolumeName.size()), wide);
  Record(wide, "a directory on the way " + problem);
  return Resolution::Corrupt;
}

FatVolume::Resolution FatVolume::ResolveFromRoot(const std::string& relative, Location& out) {
  std::vector<std::u16string> components;
  size_t at = 0;
  while (at < relative.size()) {
    size_t next = relative.find('\\', at);
    if (next == std::string::npos) next = relative.size();
    if (next > at) {
      std::string part = relative.substr(at, next - at);
      if (part == "." || part == "..") return Resolution::NotFound;
      std::u16string wide;
      if (!Utf8ToUtf16(part, wide)) return Resolution::NotFound;
      components.push_back(std::move(wide));
    }
    at = next + 1;
  }
  std::string problem;
  switch (Names.Lookup(components, out, problem)) {
  case LookupResult::Found: return Resolution::Found;
  case LookupResult::NotFound: return Resolution::NotFound;
  case LookupResult::Corrupt: break;
  }
  return Corrupt(VolumeName + "\\" + relative, problem);
}

FatVolume::Resolution FatVolume::Resolve(const std::string& path,
                                         std::shared_ptr<const Location>& out) {
  if (LastLocation && path == LastPath) {
    out = LastLocation;
    return Resolution::Found;
  }
  if (!OnThisVolume(path)) return Resolution::NotFound;
  size_t rootLength = VolumeName.size() + 1; // "C:\"
  size_t end = path.size();
  while (end > rootLength && path[end - 1] == '\\') --end;
  if (end <= rootLength) {
    out = std::make_shared<const Location>(Names.Root());
    return Resolution::Found;
  }
  size_t slash = path.rfind('\\', end - 1);
  std::string parentPath = path.substr(0, slash);
  std::string last = path.substr(slash + 1, end - slash - 1);
  if (last.empty() || last == "." || last == "..") return Resolution::NotFound;
  std::u16string wide;
  if (!Utf8ToUtf16(last, wide)) return Resolution::NotFound;

  if (!LastParentValid || parentPath != LastParentPath) {
    LastParentValid = false;
    std::string relative = parentPath.size() > VolumeName.size() ? parentPath.substr(rootLength) : "";
    Resolution parent = ResolveFromRoot(relative, LastParent);
    if (parent != Resolution::Found) return parent;
    LastParentPath = parentPath;
    LastParentValid = true;
  }
  std::string problem;
  auto found = std::make_shared<Location>();
  switch (Names.Step(LastParent, wide, *found, problem)) {
  case LookupResult::Found:
    LastPath = path;
    LastLocation = found;
    out = std::move(found);
    return Resolution::Found;
  case LookupResult::NotFound: return Resolution::NotFound;
  case LookupResult::Corrupt: break;
  }
  return Corrupt(parentPath, problem);
}

Handle FatVolume::NewHandle(OpenEntry entry) { return Handles.Add(std::move(entry)); }

FatVolume::OpenEntry* FatVolume::FindHandle(Handle handle, bool wantVolume) {
  OpenEntry* entry = Handles.Find(handle);
  if (!entry || entry->IsVolume != wantVolume) return nullptr;
  return entry;
}

// --- VolumeDevice ---

Handle FatVolume::OpenVolume(const std::string& devicePath) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Lower(devicePath) != Lower(kDevicePrefix + VolumeName)) return kInvalidHandle;
  OpenEntry entry;
  entry.IsVolume = true;
  return NewHandle(std::move(entry));
}

bool FatVolume::GetGeometry(const std::string& rootPath, DiskGeometry& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!OnThisVolume(rootPath)) return false;
  out.SectorsPerCluster = Geometry.SectorsPerCluster;
  out.BytesPerSector = Geometry.BytesPerSector;
  out.NumberOfFreeClusters = Table.FreeCount();
  out.TotalNumberOfClusters = Geometry.ClusterCount;
  return true;
}

bool FatVolume::GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!OnThisVolume(rootPath)) return false;
  out.TotalNumberOfBytes = uint64_t(Geometry.BytesPerCluster) * Geometry.ClusterCount;
  out.TotalNumberOfFreeBytes = uint64_t(Geometry.BytesPerCluster) * Table.FreeCount();
  out.FreeBytesAvailable = out.TotalNumberOfFreeBytes;
  return true;
}

bool FatVolume::GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                                     VolumeInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!OnThisVolume(rootPath)) return false;
  if (std::strlen(kFileSystemName) + 1 > nameCapacity) return false;
  // The label entry in the root counts; the boot sector's copy is older.
  std::u16string label;
  DirectoryRead root = Names.ReadDirectory(Geometry.RootCluster);
  if (root.Data) label = root.Data->Parsed.VolumeLabel;
  if (label.empty() && Geometry.Label != kNoBootLabel)
    for (char c : Geometry.Label) label.push_back(char16_t(static_cast<unsigned char>(c)));
  if (!Utf16ToUtf8(label, out.VolumeLabel)) out.VolumeLabel.clear();
  out.SerialNumber = Geometry.VolumeId;
  out.MaximumComponentLength = kMaxComponentLength;
  out.FileSystemFlags = kFileCasePreservedNames | kFileUnicodeOnDisk |
                        (Device.ReadOnly() ? kFileReadOnlyVolume : 0);
  out.FileSystemName = kFileSystemName;
  return true;
}

NtStatus FatVolume::GetVolumeBitmap(Handle volume, int64_t startingLcn, VolumeBitmapBuffer& out,
                                    IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!FindHandle(volume, true)) return kStatusInvalidHandle;
  if (startingLcn < 0 || startingLcn >= int64_t(Geometry.ClusterCount))
    return kStatusInvalidParameter;
  // Answers start on a byte boundary.
  int64_t base = startingLcn / kBitsPerByte * kBitsPerByte;
  int64_t remaining = int64_t(Geometry.ClusterCount) - base;
  uint32_t count = uint32_t(std::min<int64_t>(remaining, kBitmapCapacityClusters));
  out.StartingLcn = base;
  out.BitmapSize = remaining;
  Table.AllocationBits(uint32_t(base) + kFirstDataCluster, count, out.Buffer);
  NtStatus status = remaining > int64_t(kBitmapCapacityClusters) ? kStatusBufferOverflow
                                                                   : kStatusSuccess;
  iosb.Status = status;
  return status;
}

uint32_t FatVolume::GetFileAttributes(const std::string& path) {
  std::lock_guard<std::mutex> guard(Lock);
  std::shared_ptr<const Location> where;
  if (Resolve(path, where) != Resolution::Found) return kInvalidFileAttributes;
  return where->IsRoot ? kFileAttributeDirectory : WindowsAttributes(where->Entry.Attributes);
}

Handle FatVolume::CreateFile(const std::string& path, uint32_t, uint32_t,
                             uint32_t flagsAndAttributes) {
  std::lock_guard<std::mutex> guard(Lock);
  OpenEntry entry;
  if (Resolve(path, entry.Where) != Resolution::Found) return kInvalidHandle;
  // As on Windows, a directory opens only with backup semantics.
  if (entry.Where->Entry.IsDirectory() && !(flagsAndAttributes & kFileFlagBackupSemantics))
    return kInvalidHandle;
  return NewHandle(std::move(entry));
}

bool FatVolume::GetFileInformationByHandle(Handle file, FileInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  OpenEntry* entry = FindHandle(file, false);
  if (!entry) return false;
  const FatDirEntry& dir = entry->Where->Entry;
  out.FileAttributes =
      entry->Where->IsRoot ? kFileAttributeDirectory : WindowsAttributes(dir.Attributes);
  out.LastWriteTime = DosDateTimeToFileTime(dir.WriteDate, dir.WriteTime);
  out.FileSize = dir.IsDirectory() ? 0 : dir.Size;
  return true;
}

NtStatus FatVolume::GetRetrievalPointers(Handle file, int64_t startingVcn,
                                         RetrievalPointersBuffer& out, IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  OpenEntry* entry = FindHandle(file, false);
  if (!entry) return kStatusInvalidHandle;
  uint32_t first = entry->Where->Entry.FirstCluster;
  if (first == 0 || startingVcn < 0) return kStatusEndOfFile;
  std::vector<uint32_t> chain;
  ChainError error = Table.ReadChain(first, chain);
  if (error != ChainError::None) {
    Record(entry->Where->Path, DescribeChainError(error));
    return kStatusFileCorruptError;
  }
  if (uint64_t(startingVcn) >= chain.size()) return kStatusEndOfFile;

  // The answer starts with the run that holds the VCN asked for.
  std::vector<ClusterRun> runs = ToRuns(chain);
  int64_t vcn = 0;
  size_t i = 0;
  while (vcn + runs[i].Count <= startingVcn) vcn += runs[i++].Count;
  out.StartingVcn = vcn;
  out.ExtentCount = 0;
  for (; i < runs.size() && out.ExtentCount < kRetrievalCapacity; ++i) {
    vcn += runs[i].Count;
    out.Extents[out.ExtentCount++] = {vcn, int64_t(runs[i].First - kFirstDataCluster)};
  }
  NtStatus status = i < runs.size() ? kStatusBufferOverflow : kStatusSuccess;
  iosb.Status = status;
  return status;
}

void FatVolume::FollowMove(const Location& moved, const MoveOutcome& outcome) {
  uint32_t oldFirst = moved.Entry.FirstCluster;
  uint32_t newFirst = outcome.NewFirstCluster;
  if (oldFirst == newFirst) return;
  Handles.ForEach([&](OpenEntry& open) {
    if (open.IsVolume || open.Where->IsRoot) return;
    const Location& where = *open.Where;
    bool itself = where.ParentCluster == moved.ParentCluster && where.Entry.Slot == moved.Entry.Slot;
    bool inside = where.ParentCluster == oldFirst; // its directory moved
    if (!itself && !inside) return;
    auto updated = std::make_shared<Location>(where);
    if (itself)
      updated->Entry.FirstCluster = newFirst;
    else
      updated->ParentCluster = newFirst;
    open.Where = std::move(updated);
  });
}

NtStatus FatVolume::MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!FindHandle(volume, true)) return kStatusInvalidHandle;
  OpenEntry* entry = FindHandle(data.FileHandle, false);
  if (!entry) return kStatusInvalidHandle;
  const Location where = *entry->Where;
  MoveSubject subject;
  subject.IsRoot = where.IsRoot;
  subject.IsDirectory = where.Entry.IsDirectory();
  subject.ParentCluster = where.ParentCluster;
  subject.Slot = where.Entry.Slot;
  subject.FirstCluster = where.Entry.FirstCluster;
  MoveOutcome outcome;
  NtStatus status = Mover.Move(subject, data.StartingVcn, data.StartingLcn, data.ClusterCount, outcome);
  if (outcome.Applied) {
    // A file's move leaves its directory where it was.
    if (subject.IsDirectory) {
      LastParentValid = false;
      ListedDirectories.erase(subject.FirstCluster);
    }
    LastLocation.reset();
    FollowMove(where, outcome);
  }
  if (status == kStatusFileCorruptError)
    Record(where.Path, "its clusters or directory entry are not as expected; not moved");
  iosb.Status = status;
  return status;
}

NtStatus FatVolume::GetNtfsVolumeData(Handle, NtfsVolumeDataBuffer&) {
  return kStatusInvalidParameter;
}

NtStatus FatVolume::GetNtfsFileRecord(Handle, int64_t, NtfsFileRecordOutputBuffer&) {
  return kStatusInvalidParameter;
}

NtStatus FatVolume::OpenFileById(Handle, uint64_t, Handle& out) {
  out = 0;
  return kStatusInvalidParameter;
}

NtStatus FatVolume::QueryFileName(Handle file, FileNameInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  OpenEntry* entry = FindHandle(file, false);
  if (!entry) return kStatusInvalidHandle;
  const std::u16string& path = entry->Where->Path;
  out.FileNameLength = uint32_t(path.size() * sizeof(char16_t));
  if (path.size() > kFileNameCapacity) return kStatusBufferOverflow;
  std::copy(path.begin(), path.end(), out.FileName);
  return kStatusSuccess;
}

bool FatVolume::ListDirectory(const std::string& directoryPath, std::vector<DirectoryEntry>& out) {
  std::lock_guard<std::mutex> guard(Lock);
  out.clear();
  std::shared_ptr<const Location> where;
  if (Resolve(DirectoryOfPattern(directoryPath), where) != Resolution::Found) return false;
  if (!where->Entry.IsDirectory()) return false;
  // An entry that leads back to a directory listed before (a renamed "..",
  // the first cluster of a parent) would have the walk list it again and
  // again, its paths ever longer.
  auto listed = ListedDirectories.try_emplace(where->Entry.FirstCluster, where->Path).first;
  if (listed->second != where->Path) {
    Record(where->Path, kDirectoryReachedAgain);
    return false;
  }
  DirectoryRead dir = Names.ReadDirectory(where->Entry.FirstCluster);
  if (!dir.Data) {
    Record(where->Path, dir.Describe());
    return false;
  }
  out.reserve(dir.Data->Parsed.Entries.size());
  for (const FatDirEntry& entry : dir.Data->Parsed.Entries)
    out.push_back({entry.Name, WindowsAttributes(entry.Attributes)});
  return true;
}

void FatVolume::CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> guard(Lock);
  Handles.Remove(handle);
}

void FatVolume::EndWriteSession() {
  std::lock_guard<std::mutex> guard(Lock);
  FinishWrites();
}

} // namespace quillo::fat
