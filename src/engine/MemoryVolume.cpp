// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/MemoryVolume.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "engine/TextCodec.h"

namespace quillo {

namespace {

constexpr uint64_t kReservedTokenBit = 1ULL << 63;
constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFULL;
constexpr uint32_t kSequenceShift = 48;
constexpr uint16_t kFileRecordIsDirectory = 0x0002;
constexpr uint8_t kFileRecordMagic[4] = {'F', 'I', 'L', 'E'};
constexpr const char* kDevicePrefix = "\\\\.\\";

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

void PutLe16(uint8_t* at, uint16_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
}

uint64_t TotalVcns(const MemoryFile& file) {
  uint64_t total = 0;
  for (const MemoryRun& run : file.Runs) total += run.Length;
  return total;
}

// Joins neighbouring runs that continue each other on disk, and neighbouring
// holes, as a file system's mapping pairs would.
void NormaliseRuns(std::vector<MemoryRun>& runs) {
  std::vector<MemoryRun> merged;
  for (const MemoryRun& run : runs) {
    if (run.Length == 0) continue;
    if (!merged.empty()) {
      MemoryRun& last = merged.back();
      bool bothHoles = last.Lcn < 0 && run.Lcn < 0;
      bool continues = last.Lcn >= 0 && run.Lcn >= 0 && last.Lcn + last.Length == run.Lcn;
      if (bothHoles || continues) {
        last.Length += run.Length;
        continue;
      }
    }
    merged.push_back(run);
  }
  runs.swap(merged);
}

} // namespace

MemoryVolume::MemoryVolume(const Options& options) : Settings(options) {
  if (Settings.TotalClusters == 0) throw std::invalid_argument("a volume needs clusters");
  Tokens.assign(Settings.TotalClusters, 0);
  InUseBits.assign((size_t(Settings.TotalClusters) + 7) / 8, 0);
  FreeCount = Settings.TotalClusters;
  MemoryFile root;
  root.Directory = true;
  root.Attributes = kFileAttributeDirectory;
  Files.push_back(root);
}

// --- Building ---

uint32_t MemoryVolume::AddEntry(uint32_t parent, MemoryFile file) {
  if (parent >= Files.size() || !Files[parent].Directory)
    throw std::invalid_argument("parent is not a directory");
  std::string key = KeyOf(parent, file.Name);
  if (PathIndex.count(key)) throw std::invalid_argument("name exists: " + file.Name);
  file.Parent = parent;
  uint32_t index = uint32_t(Files.size());
  Files.push_back(std::move(file));
  Files[parent].Children.push_back(index);
  PathIndex.emplace(std::move(key), index);
  return index;
}

uint32_t MemoryVolume::AddDirectory(uint32_t parent, const std::string& name,
                                    uint64_t lastWriteTime, uint32_t attributes) {
  std::lock_guard<std::mutex> guard(Lock);
  MemoryFile dir;
  dir.Name = name;
  dir.Directory = true;
  dir.Attributes = attributes | kFileAttributeDirectory;
  dir.LastWriteTime = lastWriteTime;
  return AddEntry(parent, std::move(dir));
}

uint32_t MemoryVolume::AddFile(uint32_t parent, const std::string& name,
                               const std::vector<MemoryRun>& runs, uint64_t size,
                               uint64_t lastWriteTime, uint32_t attributes) {
  std::lock_guard<std::mutex> guard(Lock);
  MemoryFile file;
  file.Name = name;
  file.Attributes = attributes == 0 ? kFileAttributeArchive : attributes;
  file.LastWriteTime = lastWriteTime;
  file.Size = size;
  file.Runs = runs;
  for (const MemoryRun& run : runs) {
    if (run.Lcn < 0) continue;
    if (uint64_t(run.Lcn) + run.Length > Settings.TotalClusters)
      throw std::invalid_argument("run outside the volume");
    for (uint32_t i = 0; i < run.Length; ++i)
      if (Tokens[size_t(run.Lcn) + i] != 0) throw std::invalid_argument("run overlaps: " + name);
  }
  uint32_t index = AddEntry(parent, std::move(file));
  for (const MemoryRun& run : runs)
    if (run.Lcn >= 0) Allocate(uint32_t(run.Lcn), run.Length, 0);
  return index;
}

void MemoryVolume::SetRuns(uint32_t index, const std::vector<MemoryRun>& runs) {
  std::lock_guard<std::mutex> guard(Lock);
  MemoryFile& file = Files.at(index);
  for (const MemoryRun& run : file.Runs)
    if (run.Lcn >= 0) Free(uint32_t(run.Lcn), run.Length);
  for (const MemoryRun& run : runs) {
    if (run.Lcn < 0) continue;
    for (uint32_t i = 0; i < run.Length; ++i)
      if (Tokens.at(size_t(run.Lcn) + i) != 0) throw std::invalid_argument("run overlaps");
  }
  file.Runs = runs;
  for (const MemoryRun& run : runs)
    if (run.Lcn >= 0) Allocate(uint32_t(run.Lcn), run.Length, 0);
}

void MemoryVolume::SetResident(uint32_t index, bool resident) {
  std::lock_guard<std::mutex> guard(Lock);
  Files.at(index).Resident = resident;
}

void MemoryVolume::Reserve(uint32_t lcn, uint32_t length) {
  std::lock_guard<std::mutex> guard(Lock);
  if (uint64_t(lcn) + length > Settings.TotalClusters)
    throw std::invalid_argument("reserved run outside the volume");
  for (uint32_t i = 0; i < length; ++i)
    if (Tokens[size_t(lcn) + i] != 0) throw std::invalid_argument("reserved run overlaps");
  Allocate(lcn, length, kReservedTokenBit);
}

void MemoryVolume::DeleteRecord(uint32_t index) {
  std::lock_guard<std::mutex> guard(Lock);
  MemoryFile& file = Files.at(index);
  if (index == kRootIndex || !file.InUse) return;
  for (const MemoryRun& run : file.Runs)
    if (run.Lcn >= 0) Free(uint32_t(run.Lcn), run.Length);
  file.Runs.clear();
  file.InUse = false;
  PathIndex.erase(KeyOf(file.Parent, file.Name));
  auto& siblings = Files[file.Parent].Children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), index), siblings.end());
}

void MemoryVolume::BumpSequence(uint32_t index) {
  std::lock_guard<std::mutex> guard(Lock);
  Files.at(index).Sequence++;
}

void MemoryVolume::ReuseAfterNextRecordRead(uint32_t index) {
  std::lock_guard<std::mutex> guard(Lock);
  ReuseAfterRead.push_back(index);
}

void MemoryVolume::SetWideName(uint32_t index, const std::u16string& name) {
  std::lock_guard<std::mutex> guard(Lock);
  Files.at(index).WideName = name;
}

void MemoryVolume::SetNtfsLayout(int64_t mftStartLcn, int64_t mftZoneStart, int64_t mftZoneEnd,
                                 int64_t mftValidDataLength) {
  std::lock_guard<std::mutex> guard(Lock);
  MftStartLcn = mftStartLcn;
  MftZoneStart = mftZoneStart;
  MftZoneEnd = mftZoneEnd;
  MftValidDataLength = mftValidDataLength;
}

void MemoryVolume::SetReadOnly(bool readOnly) {
  std::lock_guard<std::mutex> guard(Lock);
  ReadOnly = readOnly;
}

// --- Faults ---

void MemoryVolume::FailOperation(MemoryOperation operation, NtStatus status, int times, int skip,
                                 const std::string& pathFilter) {
  std::lock_guard<std::mutex> guard(Lock);
  Faults[operation] = Fault{status, times, skip, pathFilter};
}

void MemoryVolume::AnswerPending(MemoryOperation operation, int times) {
  std::lock_guard<std::mutex> guard(Lock);
  Pending[operation] = times;
}

void MemoryVolume::SetRetrievalCapacity(uint32_t entries) {
  std::lock_guard<std::mutex> guard(Lock);
  RetrievalCapacity = std::clamp<uint32_t>(entries, 1, kRetrievalCapacity);
}

void MemoryVolume::SetBitmapLowerStart(uint32_t clusters) {
  std::lock_guard<std::mutex> guard(Lock);
  BitmapLowerStart = clusters;
}

void MemoryVolume::ClearFaults() {
  std::lock_guard<std::mutex> guard(Lock);
  Faults.clear();
  Pending.clear();
  RetrievalCapacity = kRetrievalCapacity;
  BitmapLowerStart = 0;
}

std::optional<NtStatus> MemoryVolume::TakeFault(MemoryOperation operation,
                                                const std::string& path) {
  auto it = Faults.find(operation);
  if (it == Faults.end()) return std::nullopt;
  Fault& fault = it->second;
  if (!fault.PathFilter.empty() && Lower(fault.PathFilter) != Lower(path)) return std::nullopt;
  if (fault.Skip > 0) {
    --fault.Skip;
    return std::nullopt;
  }
  if (fault.Times == 0) return std::nullopt;
  if (fault.Times > 0) --fault.Times;
  return fault.Status;
}

std::optional<NtStatus> MemoryVolume::TakeFileFault(MemoryOperation operation, uint32_t index) {
  // The path is only built when a fault waits for this operation.
  auto it = Faults.find(operation);
  if (it == Faults.end()) return std::nullopt;
  return TakeFault(operation, Settings.VolumeName + RelativePath(index));
}

bool MemoryVolume::TakePending(MemoryOperation operation) {
  auto it = Pending.find(operation);
  if (it == Pending.end() || it->second == 0) return false;
  --it->second;
  return true;
}

// --- Inspection ---

uint32_t MemoryVolume::FileCount() const {
  std::lock_guard<std::mutex> guard(Lock);
  return uint32_t(Files.size());
}

const MemoryFile& MemoryVolume::File(uint32_t index) const {
  std::lock_guard<std::mutex> guard(Lock);
  return Files.at(index);
}

std::optional<uint32_t> MemoryVolume::FindPath(const std::string& path) const {
  std::lock_guard<std::mutex> guard(Lock);
  return Resolve(path);
}

std::string MemoryVolume::PathOf(uint32_t index) const {
  std::lock_guard<std::mutex> guard(Lock);
  std::string relative = RelativePath(index);
  return Settings.VolumeName + (relative.empty() ? "\\" : relative);
}

bool MemoryVolume::IsAllocated(uint32_t lcn) const {
  std::lock_guard<std::mutex> guard(Lock);
  return Tokens.at(lcn) != 0;
}

uint32_t MemoryVolume::FreeClusterCount() const {
  std::lock_guard<std::mutex> guard(Lock);
  return FreeCount;
}

std::vector<uint64_t> MemoryVolume::FileTokens(uint32_t index) const {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<uint64_t> tokens;
  for (const MemoryRun& run : Files.at(index).Runs)
    if (run.Lcn >= 0)
      for (uint32_t i = 0; i < run.Length; ++i) tokens.push_back(Tokens[size_t(run.Lcn) + i]);
  return tokens;
}

std::vector<MoveFileData> MemoryVolume::MoveLog() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Moves;
}

uint64_t MemoryVolume::CallCount(MemoryOperation operation) const {
  std::lock_guard<std::mutex> guard(Lock);
  return Calls[size_t(operation)];
}

std::vector<std::string> MemoryVolume::ListingLog() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Listings;
}

void MemoryVolume::RecordCreateFileCalls(bool record) {
  std::lock_guard<std::mutex> guard(Lock);
  KeepCreateFileCalls = record;
}

std::vector<CreateFileCall> MemoryVolume::CreateFileLog() const {
  std::lock_guard<std::mutex> guard(Lock);
  return CreateFileCalls;
}

size_t MemoryVolume::OpenHandleCount() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Handles.size();
}

std::string MemoryVolume::CheckConsistency() const {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<uint32_t> owner(Tokens.size(), UINT32_MAX);
  for (uint32_t index = 0; index < Files.size(); ++index) {
    const MemoryFile& file = Files[index];
    if (!file.InUse) continue;
    for (const MemoryRun& run : file.Runs) {
      if (run.Lcn < 0) continue;
      if (uint64_t(run.Lcn) + run.Length > Tokens.size())
        return "file " + file.Name + " has a run outside the volume";
      for (uint32_t i = 0; i < run.Length; ++i) {
        size_t lcn = size_t(run.Lcn) + i;
        if (owner[lcn] != UINT32_MAX)
          return "cluster " + std::to_string(lcn) + " belongs to " + Files[owner[lcn]].Name +
                 " and " + file.Name;
        owner[lcn] = index;
        if (Tokens[lcn] == 0 || (Tokens[lcn] & kReservedTokenBit))
          return "cluster " + std::to_string(lcn) + " of " + file.Name + " is not marked in use";
      }
    }
  }
  uint32_t free = 0;
  for (size_t lcn = 0; lcn < Tokens.size(); ++lcn) {
    if (Tokens[lcn] == 0) {
      ++free;
    } else if (!(Tokens[lcn] & kReservedTokenBit) && owner[lcn] == UINT32_MAX) {
      return "cluster " + std::to_string(lcn) + " is in use but belongs to no file";
    }
  }
  if (free != FreeCount) return "the free-cluster count disagrees with the bitmap";
  return "";
}

// --- Internals ---

std::string MemoryVolume::KeyOf(uint32_t parent, const std::string& name) const {
  return std::to_string(parent) + "/" + Lower(name);
}

std::optional<uint32_t> MemoryVolume::Resolve(const std::string& path) const {
  if (!StartsWithNoCase(path, Settings.VolumeName)) return std::nullopt;
  std::string rest = path.substr(Settings.VolumeName.size());
  if (!rest.empty() && rest[0] != '\\') return std::nullopt;
  uint32_t current = kRootIndex;
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t next = rest.find('\\', pos);
    if (next == std::string::npos) next = rest.size();
    if (next > pos) {
      auto it = PathIndex.find(KeyOf(current, rest.substr(pos, next - pos)));
      if (it == PathIndex.end()) return std::nullopt;
      current = it->second;
    }
    pos = next + 1;
  }
  return current;
}

std::string MemoryVolume::RelativePath(uint32_t index) const {
  std::vector<const std::string*> parts;
  while (index != kRootIndex) {
    parts.push_back(&Files[index].Name);
    index = Files[index].Parent;
  }
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) path += "\\" + **it;
  return path;
}

bool MemoryVolume::RelativeWidePath(uint32_t index, std::u16string& out) const {
  std::vector<uint32_t> parts;
  while (index != kRootIndex) {
    parts.push_back(index);
    index = Files[index].Parent;
  }
  out.clear();
  std::u16string name;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    const MemoryFile& file = Files[*it];
    if (file.WideName)
      name = *file.WideName;
    else if (!Utf8ToUtf16(file.Name, name))
      return false;
    out += u'\\';
    out += name;
  }
  return true;
}

Handle MemoryVolume::NewHandle(bool isVolume, uint32_t fileIndex) {
  Handle handle = NextHandle++;
  Handles.emplace(handle, HandleEntry{isVolume, fileIndex});
  return handle;
}

bool MemoryVolume::IsVolumeHandle(Handle handle) const {
  auto it = Handles.find(handle);
  return it != Handles.end() && it->second.IsVolume;
}

std::optional<uint32_t> MemoryVolume::FileOfHandle(Handle handle) const {
  auto it = Handles.find(handle);
  if (it == Handles.end() || it->second.IsVolume) return std::nullopt;
  if (!Files[it->second.FileIndex].InUse) return std::nullopt;
  return it->second.FileIndex;
}

void MemoryVolume::SetToken(size_t lcn, uint64_t token) {
  Tokens[lcn] = token;
  uint8_t mask = uint8_t(1u << (lcn % 8));
  if (token != 0)
    InUseBits[lcn / 8] |= mask;
  else
    InUseBits[lcn / 8] &= uint8_t(~mask);
}

void MemoryVolume::Allocate(uint32_t lcn, uint32_t length, uint64_t tokenBase) {
  for (uint32_t i = 0; i < length; ++i) {
    SetToken(size_t(lcn) + i, tokenBase | NextToken++);
    --FreeCount;
  }
}

void MemoryVolume::Free(uint32_t lcn, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (Tokens[size_t(lcn) + i] != 0) ++FreeCount;
    SetToken(size_t(lcn) + i, 0);
  }
}

// --- VolumeDevice ---

Handle MemoryVolume::OpenVolume(const std::string& devicePath) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::OpenVolume);
  if (TakeFault(MemoryOperation::OpenVolume)) return kInvalidHandle;
  if (Lower(devicePath) != Lower(kDevicePrefix + Settings.VolumeName)) return kInvalidHandle;
  return NewHandle(true, 0);
}

bool MemoryVolume::GetGeometry(const std::string& rootPath, DiskGeometry& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::Geometry);
  if (TakeFault(MemoryOperation::Geometry)) return false;
  if (!StartsWithNoCase(rootPath, Settings.VolumeName)) return false;
  out.SectorsPerCluster = Settings.SectorsPerCluster;
  out.BytesPerSector = Settings.BytesPerSector;
  out.NumberOfFreeClusters = FreeCount;
  out.TotalNumberOfClusters = Settings.TotalClusters;
  return true;
}

bool MemoryVolume::GetFreeSpace(const std::string& rootPath, DiskFreeSpace& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::FreeSpace);
  if (TakeFault(MemoryOperation::FreeSpace)) return false;
  if (!StartsWithNoCase(rootPath, Settings.VolumeName)) return false;
  uint64_t bytesPerCluster = uint64_t(Settings.SectorsPerCluster) * Settings.BytesPerSector;
  out.TotalNumberOfBytes = bytesPerCluster * Settings.TotalClusters;
  out.TotalNumberOfFreeBytes = bytesPerCluster * FreeCount;
  out.FreeBytesAvailable = out.TotalNumberOfFreeBytes;
  return true;
}

bool MemoryVolume::GetVolumeInformation(const std::string& rootPath, size_t nameCapacity,
                                        VolumeInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::VolumeInformation);
  if (TakeFault(MemoryOperation::VolumeInformation)) return false;
  if (!StartsWithNoCase(rootPath, Settings.VolumeName)) return false;
  if (Settings.FileSystemName.size() + 1 > nameCapacity) return false;
  out.VolumeLabel = "MEMORY";
  out.SerialNumber = Settings.SerialNumber;
  out.MaximumComponentLength = 255;
  out.FileSystemFlags = 0;
  out.FileSystemName = Settings.FileSystemName;
  return true;
}

NtStatus MemoryVolume::GetVolumeBitmap(Handle volume, int64_t startingLcn,
                                       VolumeBitmapBuffer& out, IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::Bitmap);
  if (auto fault = TakeFault(MemoryOperation::Bitmap)) return *fault;
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  if (startingLcn < 0 || startingLcn >= int64_t(Settings.TotalClusters))
    return kStatusInvalidParameter;
  // Answers start on a byte boundary, and may be told to start lower still.
  int64_t base = std::max<int64_t>(0, startingLcn - int64_t(BitmapLowerStart)) / 8 * 8;
  int64_t remaining = int64_t(Settings.TotalClusters) - base;
  // An answer always fills the caller's buffer as far as the volume goes:
  // BitmapSize alone tells how many bits are valid.
  uint32_t count = uint32_t(std::min<int64_t>(remaining, kBitmapCapacityClusters));
  out.StartingLcn = base;
  out.BitmapSize = remaining;
  // Bits past the volume's end are clear in the last byte.
  std::memcpy(out.Buffer, InUseBits.data() + base / 8, (size_t(count) + 7) / 8);
  NtStatus status = remaining > int64_t(kBitmapCapacityClusters) ? kStatusBufferOverflow : kStatusSuccess;
  if (TakePending(MemoryOperation::Bitmap)) {
    iosb.Status = status;
    return kStatusPending;
  }
  iosb.Status = status;
  return status;
}

uint32_t MemoryVolume::GetFileAttributes(const std::string& path) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::GetAttributes);
  if (TakeFault(MemoryOperation::GetAttributes, path)) return kInvalidFileAttributes;
  auto index = Resolve(path);
  if (!index) return kInvalidFileAttributes;
  return Files[*index].Attributes;
}

Handle MemoryVolume::CreateFile(const std::string& path, uint32_t desiredAccess,
                                uint32_t shareMode, uint32_t flagsAndAttributes) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::CreateFile);
  if (KeepCreateFileCalls)
    CreateFileCalls.push_back({path, desiredAccess, shareMode, flagsAndAttributes});
  if (TakeFault(MemoryOperation::CreateFile, path)) return kInvalidHandle;
  auto index = Resolve(path);
  if (!index) return kInvalidHandle;
  // As on Windows, a directory opens only with backup semantics.
  if (Files[*index].Directory && !(flagsAndAttributes & kFileFlagBackupSemantics))
    return kInvalidHandle;
  return NewHandle(false, *index);
}

bool MemoryVolume::GetFileInformationByHandle(Handle file, FileInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::FileInformation);
  auto index = FileOfHandle(file);
  if (!index) return false;
  if (TakeFileFault(MemoryOperation::FileInformation, *index)) return false;
  const MemoryFile& entry = Files[*index];
  out.FileAttributes = entry.Attributes;
  out.LastWriteTime = entry.LastWriteTime;
  out.FileSize = entry.Directory ? 0 : entry.Size;
  return true;
}

NtStatus MemoryVolume::GetRetrievalPointers(Handle file, int64_t startingVcn,
                                            RetrievalPointersBuffer& out, IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::RetrievalPointers);
  auto index = FileOfHandle(file);
  if (!index) return kStatusInvalidHandle;
  if (auto fault = TakeFileFault(MemoryOperation::RetrievalPointers, *index))
    return *fault;
  const MemoryFile& entry = Files[*index];
  if (entry.Resident || startingVcn < 0 || uint64_t(startingVcn) >= TotalVcns(entry))
    return kStatusEndOfFile;

  // The answer starts with the run that holds the VCN asked for.
  int64_t vcn = 0;
  size_t first = 0;
  while (vcn + entry.Runs[first].Length <= startingVcn) vcn += entry.Runs[first++].Length;
  out.StartingVcn = vcn;
  out.ExtentCount = 0;
  size_t i = first;
  for (; i < entry.Runs.size() && out.ExtentCount < RetrievalCapacity; ++i) {
    vcn += entry.Runs[i].Length;
    out.Extents[out.ExtentCount++] = {vcn, entry.Runs[i].Lcn};
  }
  NtStatus status = i < entry.Runs.size() ? kStatusBufferOverflow : kStatusSuccess;
  iosb.Status = status;
  if (TakePending(MemoryOperation::RetrievalPointers)) return kStatusPending;
  return status;
}

NtStatus MemoryVolume::DoMove(const MoveFileData& data) {
  auto index = FileOfHandle(data.FileHandle);
  if (!index) return kStatusInvalidHandle;
  if (auto fault = TakeFileFault(MemoryOperation::MoveFile, *index))
    return *fault;
  if (ReadOnly) return kStatusMediaWriteProtected;
  MemoryFile& file = Files[*index];
  uint64_t total = TotalVcns(file);
  if (data.ClusterCount == 0 || data.StartingVcn < 0 ||
      uint64_t(data.StartingVcn) + data.ClusterCount > total || data.StartingLcn < 0)
    return kStatusInvalidParameter;

  uint64_t rangeStart = uint64_t(data.StartingVcn);
  uint64_t rangeEnd = rangeStart + data.ClusterCount;
  // The allocated clusters of the range, in VCN order.
  std::vector<uint32_t> oldClusters;
  uint64_t vcn = 0;
  for (const MemoryRun& run : file.Runs) {
    for (uint32_t i = 0; i < run.Length; ++i, ++vcn)
      if (vcn >= rangeStart && vcn < rangeEnd && run.Lcn >= 0)
        oldClusters.push_back(uint32_t(run.Lcn + i));
  }
  if (oldClusters.empty()) return kStatusSuccess;
  uint64_t target = uint64_t(data.StartingLcn);
  if (target + oldClusters.size() > Settings.TotalClusters) return kStatusInvalidParameter;
  for (size_t i = 0; i < oldClusters.size(); ++i)
    if (Tokens[target + i] != 0) return kStatusAlreadyCommitted;

  std::vector<uint64_t> content;
  content.reserve(oldClusters.size());
  for (uint32_t lcn : oldClusters) content.push_back(Tokens[lcn]);
  for (uint32_t lcn : oldClusters) Free(lcn, 1);
  for (size_t i = 0; i < content.size(); ++i) {
    SetToken(target + i, content[i]);
    --FreeCount;
  }

  // Rebuild the runs: the allocated clusters of the range follow one another
  // from the target, holes stay holes.
  std::vector<MemoryRun> runs;
  uint64_t nextTarget = target;
  vcn = 0;
  for (const MemoryRun& run : file.Runs) {
    uint64_t runStart = vcn;
    uint64_t runEnd = vcn + run.Length;
    vcn = runEnd;
    uint64_t cutStart = std::clamp(rangeStart, runStart, runEnd);
    uint64_t cutEnd = std::clamp(rangeEnd, runStart, runEnd);
    if (cutStart > runStart)
      runs.push_back({run.Lcn, uint32_t(cutStart - runStart)});
    if (cutEnd > cutStart) {
      uint32_t length = uint32_t(cutEnd - cutStart);
      if (run.Lcn < 0) {
        runs.push_back({-1, length});
      } else {
        runs.push_back({int64_t(nextTarget), length});
        nextTarget += length;
      }
    }
    if (runEnd > cutEnd) {
      int64_t lcn = run.Lcn < 0 ? -1 : run.Lcn + int64_t(cutEnd - runStart);
      runs.push_back({lcn, uint32_t(runEnd - cutEnd)});
    }
  }
  NormaliseRuns(runs);
  file.Runs.swap(runs);
  return kStatusSuccess;
}

NtStatus MemoryVolume::MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::MoveFile);
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  Moves.push_back(data);
  NtStatus status = DoMove(data);
  iosb.Status = status;
  if (TakePending(MemoryOperation::MoveFile)) return kStatusPending;
  return status;
}

NtStatus MemoryVolume::GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::NtfsVolumeData);
  if (auto fault = TakeFault(MemoryOperation::NtfsVolumeData)) return *fault;
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  if (!StartsWithNoCase(Settings.FileSystemName, "NTFS")) return kStatusInvalidParameter;
  std::memset(&out, 0, sizeof(out));
  uint32_t bytesPerCluster = Settings.SectorsPerCluster * Settings.BytesPerSector;
  out.VolumeSerialNumber = Settings.SerialNumber;
  out.NumberSectors = int64_t(Settings.TotalClusters) * Settings.SectorsPerCluster;
  out.TotalClusters = Settings.TotalClusters;
  out.FreeClusters = FreeCount;
  out.BytesPerSector = Settings.BytesPerSector;
  out.BytesPerCluster = bytesPerCluster;
  out.BytesPerFileRecordSegment = Settings.BytesPerFileRecord;
  out.ClustersPerFileRecordSegment = Settings.BytesPerFileRecord / bytesPerCluster;
  out.MftValidDataLength = MftValidDataLength >= 0
                               ? MftValidDataLength
                               : int64_t(Files.size()) * Settings.BytesPerFileRecord;
  out.MftStartLcn = MftStartLcn;
  out.MftZoneStart = MftZoneStart;
  out.MftZoneEnd = MftZoneEnd;
  return kStatusSuccess;
}

NtStatus MemoryVolume::GetNtfsFileRecord(Handle volume, int64_t fileReference,
                                         NtfsFileRecordOutputBuffer& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::NtfsFileRecord);
  if (auto fault = TakeFault(MemoryOperation::NtfsFileRecord)) return *fault;
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  if (fileReference < 0) return kStatusInvalidParameter;
  // A record not in use answers with the nearest lower record that is.
  uint64_t wanted = uint64_t(fileReference) & kRecordNumberMask;
  int64_t record = int64_t(std::min<uint64_t>(wanted, Files.size() - 1));
  while (record >= 0 && !Files[size_t(record)].InUse) --record;
  if (record < 0) return kStatusInvalidParameter;
  const MemoryFile& file = Files[size_t(record)];
  std::memset(&out, 0, sizeof(out));
  out.FileReferenceNumber = int64_t(uint64_t(record) | (uint64_t(file.Sequence) << kSequenceShift));
  out.FileRecordLength = Settings.BytesPerFileRecord;
  std::memcpy(out.FileRecordBuffer, kFileRecordMagic, sizeof(kFileRecordMagic));
  PutLe16(out.FileRecordBuffer + kFileRecordSequenceOffset, file.Sequence);
  uint16_t flags = kFileRecordInUse | (file.Directory ? kFileRecordIsDirectory : 0);
  PutLe16(out.FileRecordBuffer + kFileRecordFlagsOffset, flags);
  auto reuse = std::find(ReuseAfterRead.begin(), ReuseAfterRead.end(), uint32_t(record));
  if (reuse != ReuseAfterRead.end()) {
    ReuseAfterRead.erase(reuse);
    Files[size_t(record)].Sequence++;
  }
  return kStatusSuccess;
}

NtStatus MemoryVolume::OpenFileById(Handle volume, uint64_t fileId, Handle& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::OpenFileById);
  out = 0;
  if (auto fault = TakeFault(MemoryOperation::OpenFileById)) return *fault;
  if (!IsVolumeHandle(volume)) return kStatusInvalidHandle;
  uint64_t record = fileId & kRecordNumberMask;
  uint16_t sequence = uint16_t(fileId >> kSequenceShift);
  if (record >= Files.size() || !Files[record].InUse) return kStatusObjectNameNotFound;
  if (Files[record].Sequence != sequence) return kStatusInvalidParameter;
  out = NewHandle(false, uint32_t(record));
  return kStatusSuccess;
}

NtStatus MemoryVolume::QueryFileName(Handle file, FileNameInformation& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::QueryFileName);
  auto index = FileOfHandle(file);
  if (!index) return kStatusInvalidHandle;
  if (auto fault = TakeFileFault(MemoryOperation::QueryFileName, *index))
    return *fault;
  std::u16string wide;
  if (!RelativeWidePath(*index, wide)) return kStatusUnsuccessful;
  if (wide.empty()) wide.push_back(u'\\');
  out.FileNameLength = uint32_t(wide.size() * sizeof(char16_t));
  if (wide.size() > kFileNameCapacity) return kStatusBufferOverflow;
  std::copy(wide.begin(), wide.end(), out.FileName);
  return kStatusSuccess;
}

bool MemoryVolume::ListDirectory(const std::string& directoryPath,
                                 std::vector<DirectoryEntry>& out) {
  std::lock_guard<std::mutex> guard(Lock);
  Count(MemoryOperation::ListDirectory);
  out.clear();
  Listings.push_back(directoryPath);
  if (TakeFault(MemoryOperation::ListDirectory, directoryPath)) return false;
  std::string path = directoryPath;
  if (path.size() >= 3 && path.compare(path.size() - 3, 3, "*.*") == 0)
    path.resize(path.size() - 3);
  auto index = Resolve(path);
  if (!index || !Files[*index].Directory) return false;
  if (*index != kRootIndex) {
    out.push_back({u".", kFileAttributeDirectory});
    out.push_back({u"..", kFileAttributeDirectory});
  }
  for (uint32_t child : Files[*index].Children) {
    const MemoryFile& file = Files[child];
    DirectoryEntry entry;
    if (file.WideName)
      entry.Name = *file.WideName;
    else if (!Utf8ToUtf16(file.Name, entry.Name))
      continue;
    entry.FileAttributes = file.Attributes;
    out.push_back(std::move(entry));
  }
  return true;
}

void MemoryVolume::CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> guard(Lock);
  Handles.erase(handle);
}

} // namespace quillo
