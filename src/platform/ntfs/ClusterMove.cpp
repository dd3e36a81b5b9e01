// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ClusterMove.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ntfs/ClusterOwners.h"
#include "platform/ntfs/MovePlan.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {

// Data is copied in blocks of this size: small enough to stay in the
// processor's cache between its read and its write.
constexpr int64_t kCopyBlockBytes = 2 << 20;
constexpr unsigned kBitsPerByte = 8;

bool ReadRuns(const runlist_element* list, std::vector<ClusterRun>& runs, runlist_element& end) {
  for (const runlist_element* run = list; run; ++run) {
    if (run->length == 0) {
      end = *run;
      return true;
    }
    if (run->lcn < LCN_HOLE || run->length < 0) return false; // not mapped, or damaged
    runs.push_back({run->vcn, run->lcn < 0 ? -1 : run->lcn, run->length});
  }
  return false;
}

runlist_element* WriteRuns(const std::vector<ClusterRun>& runs, const runlist_element& end) {
  auto* list = static_cast<runlist_element*>(std::malloc((runs.size() + 1) * sizeof(runlist_element)));
  if (!list) return nullptr;
  for (size_t i = 0; i < runs.size(); ++i)
    list[i] = {runs[i].Vcn, runs[i].Lcn < 0 ? LCN(LCN_HOLE) : LCN(runs[i].Lcn), runs[i].Length};
  list[runs.size()] = end;
  return list;
}

} // namespace

bool ClusterMove::TargetIsFree(int64_t lcn, int64_t count) {
  // Clusters a record owns are never written, whatever $Bitmap says.
  if (Owners && !Owners->AreFree(lcn, count)) return false;
  int64_t firstByte = lcn / kBitsPerByte;
  int64_t lastByte = (lcn + count - 1) / kBitsPerByte;
  std::vector<uint8_t> bits(size_t(lastByte - firstByte + 1));
  if (ntfs_attr_pread(Volume->lcnbmp_na, firstByte, s64(bits.size()), bits.data()) != s64(bits.size()))
    return false;
  for (int64_t k = lcn; k < lcn + count; ++k) {
    int64_t at = k - firstByte * kBitsPerByte;
    if ((bits[size_t(at / kBitsPerByte)] >> (at % kBitsPerByte)) & 1) return false;
  }
  return true;
}

bool ClusterMove::CopyPieces(const std::vector<MovedPiece>& pieces) {
  int64_t clusterBytes = Volume->cluster_size;
  int64_t total = 0;
  for (const MovedPiece& piece : pieces) total += piece.Length * clusterBytes;
  // The pieces go one after another from the target: the target side is
  // written in large blocks, and the old pieces behind each block are read
  // together, whatever their number.
  // The buffers outlive the move: fresh pages for every move cost more
  // than the copying.
  MoveBuffers& buffers = Device.Buffers();
  std::vector<uint8_t>& block = buffers.Block;
  std::vector<ReadPiece>& reads = buffers.Pieces;
  size_t blockBytes = size_t(std::min(total, kCopyBlockBytes));
  if (block.size() < blockBytes) block.resize(blockBytes);
  BlockStorage& storage = Device.GetStorage();
  uint64_t target = uint64_t(pieces.front().NewLcn * clusterBytes);
  size_t filled = 0;
  reads.clear();
  auto flush = [&] {
    if (!Device.ReadDataPieces(reads)) return false;
    reads.clear();
    // Straight to the storage: the target is free on disk, and nothing on
    // disk points to it until the update is committed.
    if (!storage.WriteAt(target, block.data(), filled)) return false;
    target += filled;
    filled = 0;
    return true;
  };
  for (const MovedPiece& piece : pieces) {
    auto source = uint64_t(piece.OldLcn * clusterBytes);
    auto left = uint64_t(piece.Length * clusterBytes);
    while (left > 0) {
      size_t step = size_t(std::min<uint64_t>(left, blockBytes - filled));
      // A piece that goes on where the last one ended on the old side is
      // the same read.
      if (!reads.empty() && reads.back().Offset + reads.back().Length == source)
        reads.back().Length += step;
      else
        reads.push_back({source, block.data() + filled, step});
      filled += step;
      source += step;
      left -= step;
      if (filled == blockBytes && !flush()) return false;
    }
  }
  return filled == 0 || flush();
}

NtStatus ClusterMove::Plan(OpenFile& file, int64_t startVcn, int64_t targetLcn, uint32_t count,
                           std::unique_ptr<MovePlan>& plan, runlist_element& end) {
  ntfs_attr* stream = file.Stream;
  if (!stream || !NAttrNonResident(stream)) return kStatusInvalidParameter;
  if (ntfs_attr_map_whole_runlist(stream) != 0) return kStatusFileCorruptError;
  std::vector<ClusterRun> runs;
  if (!ReadRuns(stream->rl, runs, end)) return kStatusFileCorruptError;
  plan = std::make_unique<MovePlan>(runs, startVcn, count, targetLcn);
  if (!plan->Valid()) return kStatusInvalidParameter;
  int64_t allocated = plan->AllocatedClusters();
  if (allocated == 0) return kStatusSuccess;
  if (targetLcn + allocated > Volume->nr_clusters) return kStatusInvalidParameter;
  if (!TargetIsFree(targetLcn, allocated)) return kStatusAlreadyCommitted;
  return kStatusSuccess;
}

NtStatus ClusterMove::Check(OpenFile& file, int64_t startVcn, int64_t targetLcn, uint32_t count,
                            int64_t& clusters) {
  std::unique_ptr<MovePlan> plan;
  runlist_element end{};
  NtStatus status = Plan(file, startVcn, targetLcn, count, plan, end);
  clusters = status == kStatusSuccess ? plan->AllocatedClusters() : 0;
  return status;
}

NtStatus ClusterMove::Run(OpenFile& file, int64_t startVcn, int64_t targetLcn, uint32_t count) {
  MovedPieces.clear();
  std::unique_ptr<MovePlan> plan;
  runlist_element end{};
  NtStatus status = Plan(file, startVcn, targetLcn, count, plan, end);
  if (status != kStatusSuccess || plan->AllocatedClusters() == 0) return status;
  ntfs_attr* stream = file.Stream;
  int64_t allocated = plan->AllocatedClusters();

  // Reserve the target first, so that no allocation below can take it.
  if (ntfs_bitmap_set_run(Volume->lcnbmp_na, targetLcn, allocated) != 0) return kStatusUnsuccessful;
  Volume->free_clusters -= allocated;

  // The data reaches the disk before anything points to it: the commit
  // syncs it before it journals the update.
  if (!CopyPieces(plan->Pieces())) return kStatusUnsuccessful;
  Device.NoteUnsyncedData(uint64_t(allocated * Volume->cluster_size));

  // ntfs_runlists_merge cannot replace runs: the new runlist is built whole.
  runlist_element* list = WriteRuns(plan->NewRuns(), end);
  if (!list) return kStatusUnsuccessful;
  std::free(stream->rl);
  stream->rl = list;
  if (ntfs_attr_update_mapping_pairs(stream, 0) != 0) return kStatusUnsuccessful;

  // Moving clusters changes nothing the directory index repeats about the
  // file; closing writes the records.
  NInoFileNameClearDirty(file.Inode);
  ntfs_attr_close(stream);
  file.Stream = nullptr;
  file.StreamOpened = false;
  // A failed close keeps the inode; the caller's remount lets go of it.
  if (ntfs_inode_close(file.Inode) != 0) return kStatusUnsuccessful;
  file.Inode = nullptr;

  for (const MovedPiece& piece : plan->Pieces())
    if (ntfs_cluster_free_basic(Volume, piece.OldLcn, piece.Length) != 0) return kStatusUnsuccessful;
  MovedPieces = plan->Pieces();
  return kStatusSuccess;
}

} // namespace quillo
