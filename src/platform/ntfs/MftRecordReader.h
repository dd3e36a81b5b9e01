// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

typedef struct _ntfs_volume ntfs_volume;

namespace quillo {

// Serves single MFT records from batches read in one go, so that a walk over
// the records in order reads the MFT sequentially, and answers which record
// in use lies nearest below a number. Forget everything after the MFT or its
// bitmap may have changed.
class MftRecordReader {
public:
  void Invalidate();
  // The record, fixups applied, or null when it lies past the MFT's valid
  // data or cannot be read.
  const uint8_t* Read(ntfs_volume* volume, uint64_t record);
  // The highest record at or below `record` that the MFT bitmap marks in use,
  // or -1.
  int64_t InUseAtOrBelow(ntfs_volume* volume, uint64_t record);
  static uint64_t RecordCount(ntfs_volume* volume);

private:
  bool LoadBitmap(ntfs_volume* volume);

  std::unique_ptr<uint8_t[]> Batch;
  uint64_t BatchStart = 0;
  uint64_t BatchCount = 0;
  // The record after the last one read: asking for it is a walk in order.
  uint64_t NextInOrder = 0;
  // The MFT bitmap in 64-bit words (bit n of the bitmap is bit n % 64 of
  // word n / 64), and for each word the highest record in use at or below
  // its last bit, or -1: a walk that asks for every record of a long run of
  // free ones answers each in constant time.
  std::vector<uint8_t> BitmapBytes;
  std::vector<uint64_t> Words;
  std::vector<int64_t> HighestThroughWord;
  bool BitmapLoaded = false;
};

} // namespace quillo
