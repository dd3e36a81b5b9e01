// SPDX-License-Identifier: GPL-2.0-or-later
// The free-space structures of a pass. The pass reads the bitmap again after
// every 30th file. Building the structures afresh each time costs a walk over
// the whole volume, which on a large one sets the pace of the pass; instead
// they are changed only where the bitmap or the pass's own takings changed
// since the last reading, and end up answering as structures built afresh
// would (the order within each length of the tree included).
#include <algorithm>
#include <cstring>

#include "engine/BitmapBits.h"
#include "engine/DefragClass.h"

namespace quillo {

namespace {

// Cluster numbers are 32 bits wide.
constexpr uint64_t kMaxPassClusters = uint64_t(1) << 32;

// Copies bits [from, limit) of an answer to the bitmap at `base` onwards,
// growing it in whole words.
void CopyAnswerBits(const uint8_t* answer, uint64_t from, uint64_t limit, uint64_t base,
                    std::vector<uint8_t>& bits) {
  uint64_t words = (base + limit + kBitmapBitsPerWord - 1) / kBitmapBitsPerWord;
  if (bits.size() < words * kBitmapBytesPerWord) bits.resize(words * kBitmapBytesPerWord, 0);
  uint64_t k = from;
  if (base % kBitmapBitsPerByte == 0 && from % kBitmapBitsPerByte == 0) {
    // Answers start on byte boundaries: whole bytes at once.
    uint64_t bytes = (limit - from) / kBitmapBitsPerByte;
    std::memcpy(bits.data() + (base + from) / kBitmapBitsPerByte, answer + from / kBitmapBitsPerByte,
                size_t(bytes));
    k = from + bytes * kBitmapBitsPerByte;
  }
  for (; k < limit; ++k) {
    uint64_t at = base + k;
    uint8_t mask = uint8_t(1u << (at % kBitmapBitsPerByte));
    if (BitSet(answer, k))
      bits[at / kBitmapBitsPerByte] |= mask;
    else
      bits[at / kBitmapBitsPerByte] &= uint8_t(~mask);
  }
}

void AddSpan(std::vector<ClusterSpan>& spans, uint64_t start, uint64_t end) {
  if (!spans.empty() && spans.back().End >= start)
    spans.back().End = std::max(spans.back().End, end);
  else
    spans.push_back({start, end});
}

} // namespace

bool TDefrag::ReadFreeSpace(uint8_t purpose) {
  if (purpose != dmFast && purpose != dmOptimize) {
    LastBitmap.Purpose = 0;
    return ReadFreeSpaceByAnswers(purpose);
  }
  std::vector<uint8_t> bits;
  uint64_t end = 0;
  bool fits = true;
  bool read = FetchBitmap(bits, end, fits);
  if (!fits) {
    LastBitmap = {};
    return ReadFreeSpaceByAnswers(purpose);
  }
  bool piecewise = read && !WholeFreeSpaceReads && LastBitmap.Purpose == purpose &&
                   LastBitmap.End == end &&
                   (purpose != dmOptimize ||
                    (LastBitmap.ZoneStart == ZoneStart && LastBitmap.ZoneEnd == ZoneEnd));
  if (piecewise) {
    UpdateFreeSpace(purpose, bits, end);
  } else {
    ClearFreeSpace(purpose);
    // A reading that failed keeps the runs it had seen end, as the reading
    // by answers does.
    FillFreeSpace(purpose, bits, end, !read);
  }
  TakenSince.clear();
  if (read)
    LastBitmap = {std::move(bits), end, purpose, ZoneStart, ZoneEnd};
  else
    LastBitmap = {};
  return read;
}

bool TDefrag::FetchBitmap(std::vector<uint8_t>& bits, uint64_t& end, bool& fits) {
  bits.clear();
  end = 0;
  fits = true;
  int64_t start = 0;
  VolumeBitmapBuffer& answer = *BitmapBuffer;
  while (true) {
    NtStatus status = kStatusSuccess;
    if (!AskBitmap(start, status)) return false;
    int64_t base = answer.StartingLcn;
    // An answer may begin below the LCN asked for; the bits before it came
    // with the previous answer.
    uint64_t from = uint64_t(start - base);
    uint64_t limit = std::min<uint64_t>(uint64_t(answer.BitmapSize), kBitmapCapacityClusters);
    uint64_t reached = uint64_t(base) + std::max(limit, from);
    if (reached > kMaxPassClusters) {
      fits = false;
      return false;
    }
    if (limit > from) CopyAnswerBits(answer.Buffer, from, limit, uint64_t(base), bits);
    end = reached;
    if (status == kStatusSuccess) return true;
    // An answer that brought nothing new would repeat forever.
    if (int64_t(reached) <= start) return false;
    start = int64_t(reached);
  }
}

void TDefrag::ClearFreeSpace(uint8_t purpose) {
  if (purpose == dmFast) {
    FastFree.ClearNodes();
  } else {
    MiddleFree.ClearNodes();
    FrontFree.ClearNodes();
    BackFree.ClearNodes();
  }
}

void TDefrag::FillFreeSpace(uint8_t purpose, const std::vector<uint8_t>& bits, uint64_t end,
                            bool closedOnly) {
  for (uint64_t k = 0; k < end;) {
    uint64_t runEnd = RunEnd(bits.data(), k, end);
    if (!BitSet(bits.data(), k) && (runEnd < end || !closedOnly))
      RecordFreeRun(purpose, uint32_t(k), uint32_t(runEnd - k));
    k = runEnd;
  }
}

ClusterSpan TDefrag::CloseRange(uint8_t purpose, ClusterSpan range, const std::vector<uint8_t>& bits,
                                uint64_t end) const {
  auto widen = [&](uint64_t first, uint64_t last) {
    bool grew = first < range.Start || last > range.End;
    range.Start = std::min(range.Start, first);
    range.End = std::max(range.End, last);
    return grew;
  };
  bool grew = true;
  while (grew) {
    grew = false;
    // The free runs of the new bitmap at either end, whole.
    if (!BitSet(bits.data(), range.Start)) grew |= widen(RunBegin(bits.data(), range.Start), range.End);
    if (!BitSet(bits.data(), range.End - 1))
      grew |= widen(range.Start, RunEnd(bits.data(), range.End - 1, end));
    // The extents held now, whole.
    uint64_t first = 0;
    uint64_t last = 0;
    if (purpose == dmFast) {
      if (FastFree.ExtentsTouching(range.Start, range.End, first, last)) grew |= widen(first, last);
    } else {
      if (MiddleFree.ExtentsTouching(range.Start, range.End, first, last)) grew |= widen(first, last);
      if (FrontFree.ExtentsTouching(range.Start, range.End, first, last)) grew |= widen(first, last);
      if (BackFree.ExtentsTouching(range.Start, range.End, first, last)) grew |= widen(first, last);
    }
  }
  return range;
}

void TDefrag::UpdateFreeSpace(uint8_t purpose, const std::vector<uint8_t>& bits, uint64_t end) {
  // Outside the words that changed and the extents taken from, each held
  // extent is still a whole free run of the new bitmap and each free run is
  // held, unchanged: a run and the clusters either side of it are as they
  // were at the last reading, when the structures held exactly its runs.
  // Within them, the held extents are replaced by the new runs.
  const std::vector<uint8_t>& old = LastBitmap.Bits;
  std::vector<ClusterSpan> seeds;
  size_t words = std::min(old.size(), bits.size()) / kBitmapBytesPerWord;
  for (size_t w = 0; w < words; ++w)
    if (std::memcmp(old.data() + w * kBitmapBytesPerWord, bits.data() + w * kBitmapBytesPerWord,
                    kBitmapBytesPerWord) != 0)
      AddSpan(seeds, uint64_t(w) * kBitmapBitsPerWord,
              std::min<uint64_t>(uint64_t(w + 1) * kBitmapBitsPerWord, end));
  seeds.insert(seeds.end(), TakenSince.begin(), TakenSince.end());
  // One cluster wider: a run next to a change may now reach into it.
  for (ClusterSpan& seed : seeds) {
    seed.Start = seed.Start > 0 ? seed.Start - 1 : 0;
    seed.End = std::min(seed.End + 1, end);
  }
  std::sort(seeds.begin(), seeds.end(),
            [](const ClusterSpan& a, const ClusterSpan& b) { return a.Start < b.Start; });

  std::vector<ClusterSpan> ranges;
  for (const ClusterSpan& seed : seeds) {
    if (seed.Start >= seed.End) continue;
    ClusterSpan range = CloseRange(purpose, seed, bits, end);
    // A range may have grown over the ones before it.
    while (!ranges.empty() && ranges.back().End >= range.Start) {
      range.Start = std::min(range.Start, ranges.back().Start);
      range.End = std::max(range.End, ranges.back().End);
      ranges.pop_back();
    }
    ranges.push_back(range);
  }

  std::vector<ClusterSpan> front;
  std::vector<ClusterSpan> middle;
  std::vector<ClusterSpan> back;
  for (const ClusterSpan& range : ranges) {
    if (purpose == dmFast) {
      FastFree.RemoveExtentsTouching(range.Start, range.End);
    } else {
      MiddleFree.RemoveExtentsTouching(range.Start, range.End);
    }
    for (uint64_t k = range.Start; k < range.End;) {
      uint64_t runEnd = RunEnd(bits.data(), k, range.End);
      if (!BitSet(bits.data(), k)) {
        // As RecordFreeRun sorts them: the run's first cluster decides.
        if (purpose == dmFast || (k >= ZoneStart && k <= ZoneEnd))
          middle.push_back({k, runEnd});
        else if (k < ZoneStart)
          front.push_back({k, runEnd});
        else
          back.push_back({k, runEnd});
      }
      k = runEnd;
    }
  }
  CCTree& tree = purpose == dmFast ? FastFree : MiddleFree;
  for (const ClusterSpan& run : middle)
    tree.InsertExtentInLcnOrder(uint32_t(run.Start), uint32_t(run.End - run.Start));
  if (purpose == dmOptimize) {
    FrontFree.ReplaceWithin(ranges, front);
    BackFree.ReplaceWithin(ranges, back);
  }
}

} // namespace quillo
