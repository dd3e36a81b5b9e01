// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/MftRecordReader.h"

#include <algorithm>

#include "platform/ntfs/ByteOrder.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {
constexpr uint64_t kBatchRecords = 256;
constexpr unsigned kBitsPerByte = 8;
constexpr unsigned kBitsPerWord = 64;
constexpr unsigned kBytesPerWord = kBitsPerWord / kBitsPerByte;
constexpr uint64_t kAllBits = ~uint64_t(0);

int64_t HighestBit(uint64_t word) { return int64_t(kBitsPerWord - 1) - __builtin_clzll(word); }
} // namespace

void MftRecordReader::Invalidate() {
  BatchCount = 0;
  NextInOrder = 0;
  BitmapLoaded = false;
  Words.clear();
  HighestThroughWord.clear();
}

uint64_t MftRecordReader::RecordCount(ntfs_volume* volume) {
  return uint64_t(volume->mft_na->initialized_size) >> volume->mft_record_size_bits;
}

const uint8_t* MftRecordReader::Read(ntfs_volume* volume, uint64_t record) {
  uint64_t count = RecordCount(volume);
  if (record >= count) return nullptr;
  size_t recordBytes = volume->mft_record_size;
  if (record < BatchStart || record >= BatchStart + BatchCount) {
    if (!Batch) Batch.reset(new uint8_t[kBatchRecords * recordBytes]);
    // A walk in order reads whole batches; a lone record (a file opened in
    // the order of its clusters) is read alone rather than with its
    // neighbours.
    bool inOrder = record == NextInOrder;
    BatchStart = inOrder ? record - record % kBatchRecords : record;
    BatchCount = 0;
    uint64_t take = inOrder ? std::min(kBatchRecords, count - BatchStart) : 1;
    if (ntfs_mft_records_read(volume, MK_MREF(BatchStart, 0), s64(take),
                              reinterpret_cast<MFT_RECORD*>(Batch.get())) != 0)
      return nullptr;
    BatchCount = take;
  }
  NextInOrder = record + 1;
  return Batch.get() + (record - BatchStart) * recordBytes;
}

bool MftRecordReader::LoadBitmap(ntfs_volume* volume) {
  if (BitmapLoaded) return true;
  s64 size = std::max<s64>(volume->mftbmp_na->data_size, 0);
  size_t wordCount = (size_t(size) + kBytesPerWord - 1) / kBytesPerWord;
  // Reloaded after every move: read straight into a buffer of whole words.
  BitmapBytes.assign(wordCount * kBytesPerWord, 0);
  if (size > 0 && ntfs_attr_pread(volume->mftbmp_na, 0, size, BitmapBytes.data()) != size)
    return false;
  Words.resize(wordCount);
  HighestThroughWord.resize(wordCount);
  int64_t highest = -1;
  for (size_t w = 0; w < wordCount; ++w) {
    uint64_t word = LoadLe64(BitmapBytes.data() + w * kBytesPerWord);
    Words[w] = word;
    if (word != 0) highest = int64_t(w) * kBitsPerWord + HighestBit(word);
    HighestThroughWord[w] = highest;
  }
  BitmapLoaded = true;
  return true;
}

int64_t MftRecordReader::InUseAtOrBelow(ntfs_volume* volume, uint64_t record) {
  if (!LoadBitmap(volume) || Words.empty()) return -1;
  // Bits past the bitmap's last byte are zero in the last word.
  uint64_t limit = uint64_t(Words.size()) * kBitsPerWord;
  uint64_t bit = std::min(record, limit - 1);
  size_t w = size_t(bit / kBitsPerWord);
  unsigned position = unsigned(bit % kBitsPerWord);
  uint64_t mask = position == kBitsPerWord - 1 ? kAllBits : (uint64_t(1) << (position + 1)) - 1;
  if (uint64_t below = Words[w] & mask) return int64_t(w) * kBitsPerWord + HighestBit(below);
  return w == 0 ? -1 : HighestThroughWord[w - 1];
}

} // namespace quillo
