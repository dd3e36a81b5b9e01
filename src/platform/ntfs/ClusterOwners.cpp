// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/ClusterOwners.h"

#include <algorithm>

namespace quillo {

namespace {

// Bits [from, to) of one word.
uint64_t MaskOf(int64_t from, int64_t to) {
  uint64_t high = to >= 64 ? ~uint64_t(0) : (uint64_t(1) << to) - 1;
  return high & ~((uint64_t(1) << from) - 1);
}

} // namespace

void ClusterOwners::Reset(int64_t clusterCount) {
  Count = clusterCount < 0 ? 0 : clusterCount;
  Bits.assign(size_t((Count + kWordBits - 1) / kWordBits), 0);
  Kept.clear();
  Conflicting = 0;
}

int64_t ClusterOwners::Set(int64_t lcn, int64_t length, int64_t& firstTaken) {
  int64_t already = 0;
  firstTaken = -1;
  for (int64_t at = lcn, end = lcn + length; at < end;) {
    int64_t offset = at % kWordBits;
    int64_t take = std::min<int64_t>(kWordBits - offset, end - at);
    uint64_t mask = MaskOf(offset, offset + take);
    uint64_t& word = Bits[size_t(at / kWordBits)];
    if (uint64_t both = word & mask) {
      already += __builtin_popcountll(both);
      if (firstTaken < 0) firstTaken = at - offset + __builtin_ctzll(both);
    }
    word |= mask;
    at += take;
  }
  return already;
}

void ClusterOwners::Claim(uint64_t record, uint32_t attributeType,
                          std::span<const ClusterRun> runs) {
  Conflict conflict{record, attributeType, 0, 0};
  for (const ClusterRun& run : runs) {
    if (run.Lcn < 0 || run.Length <= 0) continue;
    if (run.Lcn >= Count || run.Length > Count - run.Lcn) continue; // checked by the caller
    int64_t firstTaken = -1;
    int64_t already = Set(run.Lcn, run.Length, firstTaken);
    if (already == 0) continue;
    if (conflict.Clusters == 0) conflict.FirstCluster = firstTaken;
    conflict.Clusters += already;
  }
  if (conflict.Clusters == 0) return;
  ++Conflicting;
  if (Kept.size() < kKeptConflicts) Kept.push_back(conflict);
}

bool ClusterOwners::IsOwned(int64_t lcn) const {
  return lcn >= 0 && lcn < Count && (Bits[size_t(lcn / kWordBits)] >> (lcn % kWordBits)) & 1;
}

bool ClusterOwners::AreFree(int64_t lcn, int64_t length) const {
  if (lcn < 0 || length < 0 || lcn > Count || length > Count - lcn) return false;
  for (int64_t at = lcn, end = lcn + length; at < end;) {
    int64_t offset = at % kWordBits;
    int64_t take = std::min<int64_t>(kWordBits - offset, end - at);
    if (Bits[size_t(at / kWordBits)] & MaskOf(offset, offset + take)) return false;
    at += take;
  }
  return true;
}

void ClusterOwners::Take(int64_t lcn, int64_t length) {
  if (lcn < 0 || length <= 0 || lcn >= Count || length > Count - lcn) return;
  int64_t ignored = 0;
  Set(lcn, length, ignored);
}

void ClusterOwners::GiveUp(int64_t lcn, int64_t length) {
  if (lcn < 0 || length <= 0 || lcn >= Count || length > Count - lcn) return;
  for (int64_t at = lcn, end = lcn + length; at < end;) {
    int64_t offset = at % kWordBits;
    int64_t take = std::min<int64_t>(kWordBits - offset, end - at);
    Bits[size_t(at / kWordBits)] &= ~MaskOf(offset, offset + take);
    at += take;
  }
}

} // namespace quillo
