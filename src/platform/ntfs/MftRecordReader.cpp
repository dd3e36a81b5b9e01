// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/ntfs/MftRecordReader.h"

#include <algorithm>

#include "platform/ntfs/NtfsLibrary.h"

namespace quillo {

namespace {
constexpr uint64_t kBatchRecords = 256;
constexpr unsigned kBitsPerByte = 8;
constexpr uint8_t kEmptyByte = 0;
} // namespace

void MftRecordReader::Invalidate() {
  BatchCount = 0;
  BitmapLoaded = false;
  Bitmap.clear();
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
    BatchStart = record - record % kBatchRecords;
    BatchCount = 0;
    uint64_t take = std::min(kBatchRecords, count - BatchStart);
    if (ntfs_mft_records_read(volume, MK_MREF(BatchStart, 0), s64(take),
                              reinterpret_cast<MFT_RECORD*>(Batch.get())) != 0)
      return nullptr;
    BatchCount = take;
  }
  return Batch.get() + (record - BatchStart) * recordBytes;
}

bool MftRecordReader::LoadBitmap(ntfs_volume* volume) {
  if (BitmapLoaded) return true;
  s64 size = std::max<s64>(volume->mftbmp_na->data_size, 0);
  Bitmap.assign(size_t(size), 0);
  if (size > 0 && ntfs_attr_pread(volume->mftbmp_na, 0, size, Bitmap.data()) != size) {
    Bitmap.clear();
    return false;
  }
  BitmapLoaded = true;
  return true;
}

int64_t MftRecordReader::InUseAtOrBelow(ntfs_volume* volume, uint64_t record) {
  if (!LoadBitmap(volume)) return -1;
  uint64_t limit = uint64_t(Bitmap.size()) * kBitsPerByte;
  if (limit == 0) return -1;
  int64_t bit = int64_t(std::min(record, limit - 1));
  while (bit >= 0) {
    uint8_t byte = Bitmap[size_t(bit) / kBitsPerByte];
    if (byte == kEmptyByte) {
      bit = int64_t(bit / kBitsPerByte * kBitsPerByte) - 1; // skip the whole byte
      continue;
    }
    if ((byte >> (bit % kBitsPerByte)) & 1) return bit;
    --bit;
  }
  return -1;
}

} // namespace quillo
