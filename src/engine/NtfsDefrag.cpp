// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/NtfsDefrag.h"

#include "engine/TextCodec.h"

namespace quillo {

namespace {

constexpr const char* kNameFailureText = "//CANNOTGETREALPATH";
constexpr uint32_t kLowHalfBits = 32;
constexpr uint32_t kSequenceShiftInHighHalf = 16;
// The MFT is drawn over its valid data in units of this many bytes,
// whatever the volume's cluster size.
constexpr int64_t kMftMapUnitBytes = 4096;
constexpr uint32_t kPercent = 100;
constexpr char kReplacementCharacter = '?';

uint16_t ReadLe16(const uint8_t* at) { return uint16_t(at[0] | (at[1] << 8)); }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// The answer's characters in the 8-bit code page. A surrogate pair is one
// character; a lone surrogate has no 8-bit form and becomes '?', as the
// code-page conversion does with any character it cannot map.
std::string NameToCodePage(const char16_t* text, size_t length) {
  std::string out;
  std::string piece;
  for (size_t i = 0; i < length; ++i) {
    std::u16string character(1, text[i]);
    if (IsHighSurrogate(text[i]) && i + 1 < length && IsLowSurrogate(text[i + 1]))
      character.push_back(text[++i]);
    if (Utf16ToUtf8(character, piece))
      out += piece;
    else
      out.push_back(kReplacementCharacter);
  }
  return out;
}

} // namespace

Handle TNtfsDefrag::OpenFile(FILE_INFO& file) {
  Handle handle = OpenFileById(file.FileRef);
  if (file.StreamName.empty() || handle == kInvalidHandle) return handle;
  Handle stream = kInvalidHandle;
  NtStatus status = Volume->OpenStream(handle, file.StreamName, stream);
  Volume->CloseHandle(handle);
  return status == kStatusSuccess ? stream : kInvalidHandle;
}

void TNtfsDefrag::AfterFileInfo(Handle handle, const FILE_INFO& file) {
  if (!file.StreamName.empty()) return;
  if (Volume->QueryStreams(handle, PendingStreams) != kStatusSuccess) {
    PendingStreams.clear();
    return;
  }
  // A stream kept inside the record has nothing to defragment.
  std::erase_if(PendingStreams,
                [](const StreamInformation& stream) { return stream.AllocationSize == 0; });
}

Handle TNtfsDefrag::OpenFileById(int64_t fileRef) {
  NtfsFileRecordOutputBuffer& answer = *RecordBuffer;
  NtStatus status = Volume->GetNtfsFileRecord(VolumeHandle, fileRef, answer);
  uint32_t recordNumber = uint32_t(uint64_t(fileRef));
  // For a record not in use the file system answers with a lower one that
  // is, so the answer must name the record asked for.
  if (status != kStatusSuccess || (uint64_t(fileRef) >> kLowHalfBits) != 0 ||
      uint32_t(uint64_t(answer.FileReferenceNumber)) != recordNumber ||
      !(ReadLe16(answer.FileRecordBuffer + kFileRecordFlagsOffset) & kFileRecordInUse))
    return kInvalidHandle;

  // The sequence number makes the open fail when the record has been reused
  // since it was read.
  uint16_t sequence = ReadLe16(answer.FileRecordBuffer + kFileRecordSequenceOffset);
  uint64_t fileId = uint64_t(recordNumber) |
                    (uint64_t(uint32_t(sequence) << kSequenceShiftInHighHalf) << kLowHalfBits);
  Handle handle = 0;
  status = Volume->OpenFileById(VolumeHandle, fileId, handle);
  if (status != kStatusSuccess || handle == 0 || handle == kInvalidHandle) return kInvalidHandle;
  return handle;
}

std::string TNtfsDefrag::QueryFileName(Handle handle) {
  const std::string failure = VolumeName + kNameFailureText;
  if (handle == kInvalidHandle) return failure;
  FileNameInformation answer{};
  NtStatus status = Volume->QueryFileName(handle, answer);
  size_t length = answer.FileNameLength / sizeof(char16_t);
  // A path longer than the answer's 260 characters does not fit.
  if (status != kStatusSuccess || length > kFileNameCapacity) return failure;
  return VolumeName + NameToCodePage(answer.FileName, length);
}

void TNtfsDefrag::ResolveName(FILE_INFO& file) {
  Handle handle = OpenFile(file);
  file.Name = QueryFileName(handle);
  if (handle != kInvalidHandle) Volume->CloseHandle(handle);
}

void TNtfsDefrag::PrepareWalk() {
  NtfsVolumeDataBuffer data{};
  if (Volume->GetNtfsVolumeData(VolumeHandle, data) != kStatusSuccess ||
      data.BytesPerFileRecordSegment == 0)
    throw DefragError("NtFsControlFile Error");

  // An inverted zone is drawn as none.
  int64_t zoneLength = data.MftZoneEnd > data.MftZoneStart ? data.MftZoneEnd - data.MftZoneStart : 0;
  Map->AddRange(uint32_t(data.MftZoneStart), uint32_t(zoneLength), mcMftZone);
  uint32_t mftClusters = uint32_t(data.MftValidDataLength / kMftMapUnitBytes);
  Map->AddRange(uint32_t(data.MftStartLcn), mftClusters, mcMft);
  Map->RemoveRange(uint32_t(data.MftStartLcn), mftClusters, mcUsed);

  MftRecordCount = int32_t(uint32_t(uint64_t(data.MftValidDataLength) /
                                    data.BytesPerFileRecordSegment));
  Map->SetProgress(0);
}

void TNtfsDefrag::BeforeFileInfo(uint32_t counter) {
  if (counter % kCaptionInterval == 0) Map->SetProgress(WalkPercentage(counter));
}

void TNtfsDefrag::NameNeeded(FILE_INFO& file) { ResolveName(file); }

uint32_t TNtfsDefrag::WalkPercentage(uint32_t counter) {
  if (MftRecordCount <= 0) return 0;
  return uint32_t(int64_t(counter) * kPercent / MftRecordCount);
}

void TNtfsDefrag::Analyze(uint8_t mode) {
  BeginAnalysis();
  PrepareWalk();
  auto record = std::make_unique<FILE_INFO>();
  // Record 0 is the MFT's own; the walk starts after it.
  for (int64_t r = 1; r <= MftRecordCount; ++r) {
    record->FileRef = r;
    record->StreamName.clear();
    PendingStreams.clear();
    if (!ExamineEntry(record, mode, uint32_t(r))) return;
    // Named data streams are fragmented and joined like the file's own.
    std::vector<StreamInformation> streams = std::move(PendingStreams);
    for (StreamInformation& stream : streams) {
      record->FileRef = r;
      record->StreamName = std::move(stream.Name);
      if (!ExamineEntry(record, mode, uint32_t(r))) return;
    }
  }
  record.reset();
  FinishAnalysis(mode);
}

} // namespace quillo
