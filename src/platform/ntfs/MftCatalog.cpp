// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/MftCatalog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/VolumeDevice.h"
#include "platform/ntfs/AttributeListLinks.h"
#include "platform/ntfs/ClusterOwners.h"
#include "platform/ntfs/KeptRecords.h"
#include "platform/ntfs/LibraryLog.h"
#include "platform/ntfs/NtfsLibrary.h"
#include "platform/ntfs/RawField.h"

namespace quillo {

namespace {

// Records read per batch: a few hundred kilobytes per read.
constexpr uint64_t kBatchRecords = 256;
// Deeper chains than this are loops.
constexpr int kLongestChain = 4096;
constexpr uint64_t kLargestRecordCount = UINT32_MAX;
constexpr uint8_t kI30Length = 4;
// $STANDARD_INFORMATION of NTFS 1.2, the smallest there is.
constexpr uint32_t kStandardInformationBytes = 48;
// Room for names made up front: a typical name's length in UTF-16 units.
constexpr size_t kNameUnitsPerRecord = 16;
// A record answer carries at most this much of a record.
constexpr size_t kRecordAnswerBytes = sizeof(NtfsFileRecordOutputBuffer::FileRecordBuffer);
constexpr s64 kLargestAttributeList = 256 << 10;

// Name preference: Win32 (with or without a DOS twin), then POSIX; a DOS
// name is never used.
uint8_t RankOf(uint8_t nameSpace) {
  switch (nameSpace) {
  case FILE_NAME_WIN32:
  case FILE_NAME_WIN32_AND_DOS: return 3;
  case FILE_NAME_POSIX: return 2;
  default: return 0;
  }
}

std::string RecordText(uint64_t record) { return "MFT record " + std::to_string(record); }

std::string HexText(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

bool BitSet(const std::vector<uint8_t>& bits, uint64_t bit) {
  return bit / 8 < bits.size() && (bits[bit / 8] >> (bit % 8)) & 1;
}

// Checks one non-resident attribute's runlist against the volume, and gives
// the runs this record holds.
bool CheckRunlist(ntfs_volume* volume, ATTR_RECORD* attribute, std::vector<ClusterRun>& held,
                  std::string& why) {
  runlist_element* runs = ntfs_mapping_pairs_decompress(volume, attribute, nullptr);
  if (!runs) {
    std::string detail = LibraryLog::LastError();
    why = "its runlist cannot be decoded" + (detail.empty() ? "" : " (" + detail + ")");
    return false;
  }
  bool sound = true;
  VCN expected = sle64_to_cpu(attribute->lowest_vcn);
  VCN highest = sle64_to_cpu(attribute->highest_vcn);
  for (runlist_element* run = runs; run->length; ++run) {
    // The runs this record does not hold (before lowest_vcn, after
    // highest_vcn) come back as not mapped.
    if (run->lcn == LCN_RL_NOT_MAPPED && (run->vcn < expected || run->vcn > highest)) continue;
    if (run->length < 0 || run->vcn != expected || run->lcn < LCN_HOLE) {
      why = "its runlist is not continuous";
      sound = false;
      break;
    }
    if (run->lcn >= 0 && (run->lcn >= volume->nr_clusters ||
                          run->length > volume->nr_clusters - run->lcn)) {
      why = "its runlist points past the end of the volume";
      sound = false;
      break;
    }
    held.push_back({run->vcn, run->lcn < 0 ? -1 : run->lcn, run->length});
    expected += run->length;
  }
  if (sound && expected != 0 && expected != highest + 1) {
    why = "its runlist does not end where the attribute says";
    sound = false;
  }
  std::free(runs);
  return sound;
}

// An attribute list's value: in the record, or in the clusters `runs` of
// its own. Windows keeps attribute lists below 256 KiB.
bool ReadAttributeList(ntfs_volume* volume, ATTR_RECORD* attribute,
                       const std::vector<ClusterRun>& runs, std::vector<uint8_t>& value,
                       std::string& why) {
  if (!attribute->non_resident) {
    uint32_t length = le32_to_cpu(attribute->value_length);
    const uint8_t* start = reinterpret_cast<const uint8_t*>(attribute) +
                           le16_to_cpu(attribute->value_offset);
    value.assign(start, start + length); // ntfs_mft_record_check keeps it inside the record
    return true;
  }
  s64 size = sle64_to_cpu(attribute->data_size);
  if (size < 0 || size > kLargestAttributeList) {
    why = "its attribute list is " + std::to_string(size) + " bytes long";
    return false;
  }
  value.assign(size_t(size), 0);
  int64_t clusterBytes = volume->cluster_size;
  size_t done = 0;
  for (const ClusterRun& run : runs) {
    if (done == value.size()) break;
    size_t take = size_t(std::min<int64_t>(run.Length * clusterBytes, int64_t(value.size() - done)));
    if (run.Lcn < 0) {
      why = "its attribute list has a hole";
      return false;
    }
    if (ntfs_pread(volume->dev, run.Lcn * clusterBytes, s64(take), value.data() + done) != s64(take)) {
      why = "its attribute list cannot be read";
      return false;
    }
    done += take;
  }
  if (done != value.size()) {
    why = "its attribute list is longer than its clusters";
    return false;
  }
  return true;
}

// The stream the analysis asks about: a file's unnamed $DATA, a directory's
// $I30 index allocation.
bool IsAnalysedStream(const ATTR_RECORD* attribute, bool directory) {
  if (!directory) return attribute->type == AT_DATA && attribute->name_length == 0;
  if (attribute->type != AT_INDEX_ALLOCATION || attribute->name_length != kI30Length) return false;
  const auto* name = reinterpret_cast<const ntfschar*>(reinterpret_cast<const uint8_t*>(attribute) +
                                                       le16_to_cpu(attribute->name_offset));
  return std::memcmp(name, NTFS_INDEX_I30, kI30Length * sizeof(ntfschar)) == 0;
}

} // namespace

const CatalogEntry* MftCatalog::Entry(uint64_t record) const {
  return record < Entries.size() ? &Entries[record] : nullptr;
}

void MftCatalog::AddName(uint64_t owner, uint64_t parentReference, uint8_t nameSpace,
                         const uint8_t* name, uint8_t length) {
  uint8_t rank = RankOf(nameSpace);
  if (owner >= Entries.size() || rank <= Entries[owner].NameRank) return;
  CatalogEntry& entry = Entries[owner];
  entry.NameRank = rank;
  entry.Parent = uint32_t(MREF(parentReference));
  entry.ParentSequence = uint16_t(MSEQNO(parentReference));
  entry.NameOffset = uint32_t(Names.size());
  entry.NameLength = length;
  // UTF-16LE on disk. Names are short: a plain loop beats the set-up of a
  // block copy.
  for (uint8_t i = 0; i < length; ++i)
    Names.push_back(char16_t(name[2 * i] | (name[2 * i + 1] << 8)));
}

uint32_t MftCatalog::AddRuns(const std::vector<ClusterRun>& runs, uint32_t& count) {
  size_t first = RunPool.size();
  MovePlan::JoinInto(runs, RunPool);
  count = uint32_t(RunPool.size() - first);
  return uint32_t(first);
}

uint64_t MftCatalog::BaseOf(uint64_t record) const {
  auto found = std::lower_bound(ExtentBases.begin(), ExtentBases.end(),
                                std::pair<uint32_t, uint32_t>(uint32_t(record), 0));
  return found != ExtentBases.end() && found->first == record ? found->second : 0;
}

bool MftCatalog::ScanRecord(ntfs_volume* volume, uint64_t record, void* data, bool inBitmap,
                            const CatalogSinks& sinks, std::string& error) {
  auto* header = static_cast<MFT_RECORD*>(data);
  CatalogEntry& entry = Entries[record];
  if (ntfs_is_baad_record(header->magic)) {
    if (!inBitmap) return true;
    error = RecordText(record) + " fails its update-sequence check (a torn write)";
    return false;
  }
  if (!ntfs_is_file_record(header->magic)) {
    if (!inBitmap) return true;
    error = RecordText(record) + " is in use but is not a file record";
    return false;
  }
  entry.Sequence = le16_to_cpu(header->sequence_number);
  if (!(header->flags & MFT_RECORD_IN_USE)) return true;

  LibraryLog::Reset();
  if (ntfs_mft_record_check(volume, MK_MREF(record, 0), header) != 0) {
    std::string detail = LibraryLog::LastError();
    error = RecordText(record) + " is malformed" + (detail.empty() ? "" : " (" + detail + ")");
    return false;
  }
  entry.InUse = true;
  entry.Directory = (header->flags & MFT_RECORD_IS_DIRECTORY) != 0;
  uint64_t base = MREF_LE(header->base_mft_record);
  entry.Extent = base != 0;
  uint64_t owner = entry.Extent ? base : record;
  if (entry.Extent) ExtentBases.emplace_back(uint32_t(record), uint32_t(base));

  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(nullptr, header);
  if (!context) {
    error = "out of memory";
    return false;
  }
  // The stream is taken from base records whose attributes all live in them;
  // a file with an attribute list is left to the library, which follows it
  // (its extent records may come before or after it in the MFT).
  bool sound = true;
  while (sound && ntfs_attr_lookup(AT_UNUSED, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0,
                                   context) == 0) {
    ATTR_RECORD* attribute = context->attr;
    std::string why;
    if (attribute->type == AT_ATTRIBUTE_LIST && !entry.Extent) entry.Stream = StreamKind::Unknown;
    if (attribute->type == AT_DATA && attribute->name_length != 0 && !entry.Extent)
      entry.NamedStreams = true;
    bool analysed = !entry.Extent && entry.Stream != StreamKind::Unknown &&
                    IsAnalysedStream(attribute, entry.Directory);
    if (attribute->non_resident) {
      Held.clear();
      if (!CheckRunlist(volume, attribute, Held, why)) {
        error = RecordText(record) + ": attribute " + HexText(le32_to_cpu(attribute->type)) +
                " " + why;
        sound = false;
        break;
      }
      if (sinks.Owners) sinks.Owners->Claim(record, le32_to_cpu(attribute->type), Held);
    }
    if (attribute->type == AT_ATTRIBUTE_LIST && sinks.Lists) {
      std::vector<uint8_t> value;
      if (!ReadAttributeList(volume, attribute, Held, value, why) ||
          !sinks.Lists->AddList(record, value.data(), value.size(), why))
        sinks.Lists->NoteProblem(RecordText(record) + ": " + why);
    }
    if (attribute->non_resident) {
      if (analysed) {
        entry.Stream = StreamKind::NonResident;
        entry.DataSize = uint64_t(sle64_to_cpu(attribute->data_size));
        entry.RunOffset = AddRuns(Held, entry.RunCount);
      }
    } else if (analysed) {
      entry.Stream = StreamKind::Resident;
      entry.DataSize = le32_to_cpu(attribute->value_length);
    } else if (attribute->type == AT_STANDARD_INFORMATION && !entry.Extent &&
               le32_to_cpu(attribute->value_length) >= kStandardInformationBytes) {
      const auto* information = reinterpret_cast<const STANDARD_INFORMATION*>(
          reinterpret_cast<const uint8_t*>(attribute) + le16_to_cpu(attribute->value_offset));
      entry.LastWriteTime = uint64_t(sle64_to_cpu(information->last_data_change_time));
      entry.FileAttributes = le32_to_cpu(
          RawField<uint32_t>(information, offsetof(STANDARD_INFORMATION, file_attributes)));
    } else if (attribute->type == AT_FILE_NAME) {
      uint32_t valueLength = le32_to_cpu(attribute->value_length);
      uint16_t valueOffset = le16_to_cpu(attribute->value_offset);
      auto* name = reinterpret_cast<FILE_NAME_ATTR*>(reinterpret_cast<uint8_t*>(attribute) +
                                                     valueOffset);
      if (valueLength < sizeof(FILE_NAME_ATTR) ||
          valueLength < sizeof(FILE_NAME_ATTR) + name->file_name_length * sizeof(ntfschar)) {
        error = RecordText(record) + " has a truncated file name";
        sound = false;
      } else {
        AddName(owner, MREF_LE(name->parent_directory) |
                           (uint64_t(MSEQNO_LE(name->parent_directory)) << 48),
                RawField<uint8_t>(name, offsetof(FILE_NAME_ATTR, file_name_type)),
                reinterpret_cast<const uint8_t*>(name->file_name),
                name->file_name_length);
      }
    }
  }
  if (sound && errno != ENOENT) {
    std::string detail = LibraryLog::LastError();
    error = RecordText(record) + " has a malformed attribute" +
            (detail.empty() ? "" : " (" + detail + ")");
    sound = false;
  }
  ntfs_attr_put_search_ctx(context);
  return sound;
}

bool MftCatalog::Build(ntfs_volume* volume, std::string& error, const CatalogSinks& sinks) {
  Entries.clear();
  Names.clear();
  RunPool.clear();
  ExtentBases.clear();
  // Sizes read from disk are held against the volume before anything is
  // allocated or scanned by them.
  s64 volumeBytes = volume->nr_clusters * s64(volume->cluster_size);
  const ntfs_attr* mft = volume->mft_na;
  if (mft->initialized_size < 0 || mft->initialized_size > mft->allocated_size ||
      mft->allocated_size > volumeBytes) {
    error = "the MFT's size fields (" + std::to_string(mft->initialized_size) + " bytes in use, " +
            std::to_string(mft->allocated_size) + " allocated) do not fit the volume";
    return false;
  }
  uint64_t count = uint64_t(mft->initialized_size) >> volume->mft_record_size_bits;
  if (count > kLargestRecordCount) {
    error = "the MFT is larger than this program handles";
    return false;
  }
  if (volume->mftbmp_na->data_size < 0 || volume->mftbmp_na->data_size > volumeBytes) {
    error = "the MFT bitmap's size (" + std::to_string(volume->mftbmp_na->data_size) +
            " bytes) does not fit the volume";
    return false;
  }
  if (sinks.Owners) sinks.Owners->Reset(volume->nr_clusters);
  if (sinks.Lists) sinks.Lists->Clear();
  KeptRecords* kept = sinks.Kept;
  Entries.resize(count);
  Names.reserve(size_t(count) * kNameUnitsPerRecord);

  // The MFT bitmap tells which records must be sound.
  std::vector<uint8_t> inUse(size_t(std::max<s64>(volume->mftbmp_na->data_size, 0)));
  if (!inUse.empty() &&
      ntfs_attr_pread(volume->mftbmp_na, 0, s64(inUse.size()), inUse.data()) != s64(inUse.size())) {
    error = "the MFT bitmap cannot be read";
    return false;
  }

  size_t recordBytes = volume->mft_record_size;
  if (kept) kept->Reset(count, std::min(recordBytes, kRecordAnswerBytes), sinks.KeptBytes);
  std::unique_ptr<uint8_t[]> batch(new uint8_t[kBatchRecords * recordBytes]);
  for (uint64_t start = 0; start < count; start += kBatchRecords) {
    uint64_t take = std::min(kBatchRecords, count - start);
    LibraryLog::Reset();
    if (ntfs_mft_records_read(volume, MK_MREF(start, 0), s64(take),
                              reinterpret_cast<MFT_RECORD*>(batch.get())) != 0) {
      std::string detail = LibraryLog::LastError();
      error = "the MFT cannot be read at record " + std::to_string(start) +
              (detail.empty() ? "" : " (" + detail + ")");
      return false;
    }
    for (uint64_t i = 0; i < take; ++i) {
      uint8_t* data = batch.get() + i * recordBytes;
      bool inBitmap = BitSet(inUse, start + i);
      if (!ScanRecord(volume, start + i, data, inBitmap, sinks, error)) return false;
      if (kept && inBitmap && Entries[start + i].InUse) {
        const auto* header = reinterpret_cast<const MFT_RECORD*>(data);
        kept->Keep(start + i, data,
                   std::max<size_t>(le32_to_cpu(header->bytes_in_use), sizeof(MFT_RECORD)));
      }
    }
  }
  return true;
}

const CatalogEntry* MftCatalog::Current(uint64_t record) const {
  const CatalogEntry* entry = Entry(record);
  return entry && !entry->Changed ? entry : nullptr;
}

std::span<const ClusterRun> MftCatalog::Runs(uint64_t record) const {
  const CatalogEntry* entry = Entry(record);
  if (!entry || entry->RunCount == 0) return {};
  return std::span<const ClusterRun>(RunPool).subspan(entry->RunOffset, entry->RunCount);
}

void MftCatalog::MarkChanged(uint64_t record) {
  if (record < Entries.size()) Entries[record].Changed = true;
}

bool MftCatalog::PathOf(uint64_t record, std::u16string& out) const {
  out.clear();
  if (record == FILE_root) {
    out.assign(1, u'\\');
    return true;
  }
  std::vector<const CatalogEntry*> chain;
  uint64_t at = record;
  for (int depth = 0; at != FILE_root; ++depth) {
    const CatalogEntry* entry = Entry(at);
    if (depth >= kLongestChain || !entry || !entry->InUse || entry->NameRank == 0) return false;
    const CatalogEntry* parent = Entry(entry->Parent);
    if (!parent || !parent->InUse || !parent->Directory ||
        parent->Sequence != entry->ParentSequence)
      return false;
    chain.push_back(entry);
    at = entry->Parent;
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    out += u'\\';
    out.append(Names, (*it)->NameOffset, (*it)->NameLength);
  }
  return true;
}

bool MftCatalog::IsUnderExtend(uint64_t record) const {
  uint64_t at = record;
  for (int depth = 0; depth < kLongestChain && at != FILE_root; ++depth) {
    if (at == FILE_Extend) return true;
    const CatalogEntry* entry = Entry(at);
    if (!entry || entry->NameRank == 0) return false;
    at = entry->Parent;
  }
  return false;
}

} // namespace quillo
