// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/VolumeJournalFile.h"

#include <cerrno>
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

} // namespace

bool VolumeJournalFile::Create(ntfs_volume* volume, uint64_t bytes, const ClusterOwners* owners,
                               VolumeJournalPlace& out, std::string& error) {
  ntfs_inode* root = ntfs_inode_open(volume, FILE_root);
  if (!root) {
    error = Why("the root folder cannot be opened");
    return false;
  }
  std::vector<ntfschar> name = LibraryName();
  ntfs_inode* inode = ntfs_create(root, const_cpu_to_le32(0), name.data(), u8(name.size()), S_IFREG);
  if (!inode) {
    error = Why("the journal file cannot be created");
    ntfs_inode_close(root);
    return false;
  }
  // Kept out of sight: the file exists only while a pass runs.
  inode->flags = static_cast<FILE_ATTR_FLAGS>(inode->flags | FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM);
  NInoFileNameSetDirty(inode);
  ntfs_inode_mark_dirty(inode);
  bool made = false;
  // The allocator starts where the data zone's position says.
  int64_t clusters = int64_t((bytes + volume->cluster_size - 1) / volume->cluster_size);
  int64_t place = LastFreeRun(volume, clusters, owners);
  if (place >= 0) volume->data1_zone_pos = place;
  ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0);
  // Real clusters, not a sparse run: the journal is written to them directly.
  if (!data)
    error = Why("the journal file's data cannot be opened");
  else if (ntfs_attr_truncate_solid(data, s64(bytes)) != 0)
    error = Why("no room for the journal file");
  else
    made = true;
  if (data) ntfs_attr_close(data);
  out.Record = inode->mft_no;
  out.Extents.clear();
  if (made && !ReadExtents(volume, inode, out.Extents)) {
    error = "the journal file's clusters cannot be read back";
    made = false;
  }
  if (ntfs_inode_close(inode) != 0 && made) {
    error = Why("the journal file cannot be written");
    made = false;
  }
  ntfs_inode_close(root);
  return made;
}

bool VolumeJournalFile::Find(ntfs_volume* volume, VolumeJournalPlace& out) {
  ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, kVolumeJournalPath);
  if (!inode) return false;
  out.Record = inode->mft_no;
  out.Extents.clear();
  bool found = ReadExtents(volume, inode, out.Extents);
  ntfs_inode_close(inode);
  return found;
}

bool VolumeJournalFile::Remove(ntfs_volume* volume, std::string& error) {
  ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, kVolumeJournalPath);
  if (!inode) {
    error = Why("the journal file cannot be opened");
    return false;
  }
  ntfs_inode* root = ntfs_inode_open(volume, FILE_root);
  if (!root) {
    error = Why("the root folder cannot be opened");
    ntfs_inode_close(inode);
    return false;
  }
  std::vector<ntfschar> name = LibraryName();
  MFT_REF record = MK_MREF(inode->mft_no, 0);
  // Closes both inodes, whatever the outcome.
  if (ntfs_delete(volume, kVolumeJournalPath, inode, root, name.data(), u8(name.size())) != 0) {
    error = Why("the journal file cannot be deleted");
    return false;
  }
  // Its record keeps its header (its sequence number went up as it was
  // freed) and loses its attributes: the file leaves no name behind for
  // tools that list deleted files.
  std::vector<uint8_t> bytes(volume->mft_record_size);
  auto* header = reinterpret_cast<MFT_RECORD*>(bytes.data());
  if (ntfs_mft_record_read(volume, record, header) != 0) {
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
  header->next_attr_instance = const_cpu_to_le16(0);
  if (ntfs_mft_record_write(volume, record, header) != 0) {
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
