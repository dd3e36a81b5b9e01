// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/VolumeJournalFile.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/ntfs/ClusterOwners.h"
#include "platform/ntfs/ImageRange.h"
#include "platform/ntfs/LibraryLog.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

std::vector<ntfschar> LibraryName() {
  std::vector<ntfschar> name;
  for (char16_t c : kVolumeJournalName) name.push_back(cpu_to_le16(uint16_t(c)));
  return name;
}

std::string Why(const std::string& what) {
  std::string detail = LibraryLog::LastError();
  return what + ": " + (detail.empty() ? std::string(std::strerror(errno)) : detail);
}

// The clusters of the file's unnamed data; false when some are not
// allocated.
bool ReadExtents(ntfs_volume* volume, ntfs_inode* inode, std::vector<ByteExtent>& out) {
  ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0);
  if (!data) return false;
  bool whole = NAttrNonResident(data) && ntfs_attr_map_whole_runlist(data) == 0;
  for (const runlist_element* run = whole ? data->rl : nullptr; run && run->length; ++run) {
    if (run->lcn < 0) {
      whole = false;
      break;
    }
    out.push_back({uint64_t(run->lcn) * volume->cluster_size,
                   uint64_t(run->length) * volume->cluster_size});
  }
  ntfs_attr_close(data);
  return whole && !out.empty();
}

constexpr s64 kBitmapChunkBytes = 65536;
// The end marker of a record's attributes, as a record's used bytes count it.
constexpr size_t kEndMarkerBytes = 8;
constexpr unsigned kBitsPerByte = 8;

// The first cluster of the last `count` free clusters in a row past the MFT
// zone, free in the bitmap and, with `owners`, not owned; -1 when none.
// From the end: passes move files towards the start.
int64_t LastFreeRun(ntfs_volume* volume, int64_t count, const ClusterOwners* owners) {
  int64_t clusters = volume->nr_clusters;
  std::vector<uint8_t> chunk(kBitmapChunkBytes);
  int64_t run = 0;
  int64_t chunkFirst = -1; // first cluster of the chunk held
  for (int64_t lcn = clusters - 1; lcn >= std::max<int64_t>(volume->mft_zone_end, 0); --lcn) {
    if (lcn < chunkFirst || chunkFirst < 0) {
      int64_t firstByte = std::max<int64_t>(lcn / kBitsPerByte - kBitmapChunkBytes + 1, 0);
      s64 take = lcn / kBitsPerByte - firstByte + 1;
      if (ntfs_attr_pread(volume->lcnbmp_na, firstByte, take, chunk.data()) != take) return -1;
      chunkFirst = firstByte * kBitsPerByte;
    }
    int64_t bit = lcn - chunkFirst;
    bool used = (chunk[size_t(bit / kBitsPerByte)] >> (bit % kBitsPerByte)) & 1;
    run = used || (owners && owners->IsOwned(lcn)) ? 0 : run + 1;
    if (run == count) return lcn;
  }
  return -1;
}

// A record named as the journal file, in the root.
bool IsJournalFile(ntfs_inode* inode) {
  std::vector<ntfschar> name = LibraryName();
  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(inode, nullptr);
  bool found = false;
  while (!found && context &&
         ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, context) == 0) {
    const ATTR_RECORD* attribute = context->attr;
    if (attribute->non_resident) continue;
    uint32_t length = le32_to_cpu(attribute->value_length);
    const auto* value = reinterpret_cast<const uint8_t*>(attribute) + le16_to_cpu(attribute->value_offset);
    const auto* fileName = reinterpret_cast<const FILE_NAME_ATTR*>(value);
    found = length >= sizeof(FILE_NAME_ATTR) + name.size() * sizeof(ntfschar) &&
            MREF_LE(fileName->parent_directory) == FILE_root &&
            fileName->file_name_length == name.size() &&
            std::memcmp(value + sizeof(FILE_NAME_ATTR), name.data(), name.size() * sizeof(ntfschar)) == 0;
  }
  if (context) ntfs_attr_put_search_ctx(context);
  return found;
}

} // namespace

bool VolumeJournalFile::Create(ntfs_volume* volume, uint64_t bytes, const ClusterOwners* owners,
                               VolumeJournalPlace& out, std::string& error) {
  // The root's sequence number goes into the file's parent reference.
  ntfs_inode* root = ntfs_inode_open(volume, FILE_root);
  if (!root) {
    error = Why("the root folder cannot be opened");
    return false;
  }
  le16 rootSequence = root->mrec->sequence_number;
  ntfs_inode_close(root);

  // What the library's own file creation does, without the entry in the
  // folder's index.
  ntfs_inode* inode = ntfs_mft_record_alloc(volume, nullptr);
  if (!inode) {
    error = Why("no MFT record for the journal file");
    return false;
  }
  ntfs_inode_invalidate(volume, inode->mft_no);
  // The record as the volume holds it (the library has written nothing to it
  // yet), to be put back when the file is freed.
  out.RecordBefore.assign(volume->mft_record_size, 0);
  if (ntfs_mft_record_read(volume, MK_MREF(inode->mft_no, 0),
                           reinterpret_cast<MFT_RECORD*>(out.RecordBefore.data())) != 0)
    out.RecordBefore.clear();
  uint64_t clusterBytes = volume->cluster_size;
  int64_t clusters = int64_t((bytes + clusterBytes - 1) / clusterBytes);
  // Kept out of sight: the file exists only while a pass runs.
  inode->flags = static_cast<FILE_ATTR_FLAGS>(FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM | FILE_ATTR_ARCHIVE);

  std::vector<uint8_t> standard(offsetof(STANDARD_INFORMATION, v1_end), 0);
  auto* info = reinterpret_cast<STANDARD_INFORMATION*>(standard.data());
  info->creation_time = inode->creation_time;
  info->last_data_change_time = inode->last_data_change_time;
  info->last_mft_change_time = inode->last_mft_change_time;
  info->last_access_time = inode->last_access_time;
  info->file_attributes = inode->flags;
  clear_nino_flag(inode, v3_Extensions);

  std::vector<ntfschar> name = LibraryName();
  std::vector<uint8_t> named(sizeof(FILE_NAME_ATTR) + name.size() * sizeof(ntfschar), 0);
  auto* fileName = reinterpret_cast<FILE_NAME_ATTR*>(named.data());
  fileName->parent_directory = MK_LE_MREF(FILE_root, le16_to_cpu(rootSequence));
  fileName->file_name_length = u8(name.size());
  fileName->file_name_type = FILE_NAME_POSIX;
  fileName->file_attributes = inode->flags;
  fileName->creation_time = inode->creation_time;
  fileName->last_data_change_time = inode->last_data_change_time;
  fileName->last_mft_change_time = inode->last_mft_change_time;
  fileName->last_access_time = inode->last_access_time;
  fileName->allocated_size = cpu_to_sle64(s64(uint64_t(clusters) * clusterBytes));
  fileName->data_size = cpu_to_sle64(s64(bytes));
  std::memcpy(named.data() + sizeof(FILE_NAME_ATTR), name.data(), name.size() * sizeof(ntfschar));

  bool made = false;
  if (ntfs_attr_add(inode, AT_STANDARD_INFORMATION, AT_UNNAMED, 0, standard.data(),
                    s64(standard.size())) != 0)
    error = Why("the journal file's standard information cannot be added");
  else if (ntfs_sd_add_everyone(inode) != 0)
    error = Why("the journal file's security descriptor cannot be added");
  else if (ntfs_attr_add(inode, AT_DATA, AT_UNNAMED, 0, nullptr, 0) != 0)
    error = Why("the journal file's data cannot be added");
  else if (ntfs_attr_add(inode, AT_FILE_NAME, AT_UNNAMED, 0, named.data(), s64(named.size())) != 0)
    error = Why("the journal file's name cannot be added");
  else
    made = true;
  inode->mrec->link_count = const_cpu_to_le16(1);
  ntfs_inode_mark_dirty(inode);

  // The allocator starts where the data zone's position says.
  int64_t place = made ? LastFreeRun(volume, clusters, owners) : -1;
  if (place >= 0) volume->data1_zone_pos = place;
  ntfs_attr* data = made ? ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0) : nullptr;
  // Real clusters, not a sparse run: the journal is written to them directly.
  if (made && !data) {
    error = Why("the journal file's data cannot be opened");
    made = false;
  } else if (made && ntfs_attr_truncate_solid(data, s64(bytes)) != 0) {
    error = Why("no room for the journal file");
    made = false;
  }
  if (data) ntfs_attr_close(data);
  out.Record = inode->mft_no;
  out.Extents.clear();
  if (made && !ReadExtents(volume, inode, out.Extents)) {
    error = "the journal file's clusters cannot be read back";
    made = false;
  }
  // No folder lists the file: there is no index entry to bring up to date.
  NInoFileNameClearDirty(inode);
  if (ntfs_inode_close(inode) != 0 && made) {
    error = Why("the journal file cannot be written");
    made = false;
  }
  return made;
}

bool VolumeJournalFile::Remove(ntfs_volume* volume, const VolumeJournalPlace& place,
                               std::string& error) {
  uint64_t record = place.Record;
  ntfs_inode* inode = ntfs_inode_open(volume, MK_MREF(record, 0));
  if (!inode) {
    error = Why("the journal file's record cannot be opened");
    return false;
  }
  if (!IsJournalFile(inode)) {
    ntfs_inode_close(inode);
    error = "MFT record " + std::to_string(record) + " is not the journal file";
    return false;
  }
  // Its clusters, then its record and the record's bit in the MFT's bitmap.
  bool freed = true;
  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(inode, nullptr);
  while (freed && context && ntfs_attrs_walk(context) == 0) {
    if (!context->attr->non_resident) continue;
    runlist* runs = ntfs_mapping_pairs_decompress(volume, context->attr, nullptr);
    freed = runs && ntfs_cluster_free_from_rl(volume, runs) == 0;
    std::free(runs);
  }
  if (context) ntfs_attr_put_search_ctx(context);
  if (!context || !freed) {
    error = Why("the journal file's clusters cannot be freed");
    ntfs_inode_close(inode);
    return false;
  }
  NInoFileNameClearDirty(inode);
  // Closes the inode once its record is written.
  if (ntfs_mft_record_free(volume, inode) != 0) {
    error = Why("the journal file's record cannot be freed");
    return false;
  }
  std::vector<uint8_t> bytes(volume->mft_record_size);
  auto* header = reinterpret_cast<MFT_RECORD*>(bytes.data());
  MFT_REF reference = MK_MREF(record, 0);
  if (place.RecordBefore.size() == bytes.size()) {
    // As it was: a deleted file's record keeps telling of that file, and
    // tools that list deleted files list what they did before.
    std::copy(place.RecordBefore.begin(), place.RecordBefore.end(), bytes.begin());
    header->flags = static_cast<MFT_RECORD_FLAGS>(header->flags & ~MFT_RECORD_IN_USE);
  } else {
    // Its header (its sequence number went up as it was freed) without its
    // attributes: the file leaves no name behind.
    if (ntfs_mft_record_read(volume, reference, header) != 0) {
      error = Why("the journal file's record cannot be read");
      return false;
    }
    size_t start = le16_to_cpu(header->attrs_offset);
    if (start + kEndMarkerBytes > bytes.size()) {
      error = "the journal file's record is malformed";
      return false;
    }
    std::fill(bytes.begin() + int64_t(start), bytes.end(), 0);
    le32 end = AT_END;
    std::memcpy(&bytes[start], &end, sizeof(end));
    header->bytes_in_use = cpu_to_le32(uint32_t(start + kEndMarkerBytes));
    header->link_count = const_cpu_to_le16(0);
    header->next_attr_instance = const_cpu_to_le16(0);
  }
  if (ntfs_mft_record_write(volume, reference, header) != 0) {
    error = Why("the journal file's record cannot be cleared");
    return false;
  }
  return true;
}

std::vector<uint64_t> VolumeJournalFile::RecordSectors(ntfs_volume* volume, uint64_t record) {
  std::vector<uint64_t> sectors;
  uint64_t start = record * volume->mft_record_size;
  uint64_t clusterBytes = volume->cluster_size;
  for (uint64_t at = start; at < start + volume->mft_record_size; at += kSectorBytes) {
    LCN lcn = ntfs_attr_vcn_to_lcn(volume->mft_na, VCN(at / clusterBytes));
    if (lcn < 0) return {};
    sectors.push_back(uint64_t(lcn) * clusterBytes + at % clusterBytes);
  }
  return sectors;
}

} // namespace quillo
