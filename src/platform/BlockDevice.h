// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-addressed access to the storage under a volume: a block device, an
// image file, or a partition window of either. Every read and write of the
// file-system code goes through this seam, so a test can stand in a device
// that records writes or loses them after a simulated power cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ReadPiece.h"

namespace quillo {

// Movers ask the disk to start writing copied data after about this much,
// so that it writes while the next files are copied instead of all at the
// commit's sync.
constexpr uint64_t kWriteBackBytes = 4 << 20;

class BlockDevice {
public:
  virtual ~BlockDevice() = default;
  // Bytes the volume may use.
  virtual uint64_t Size() const = 0;
  virtual bool ReadOnly() const = 0;
  // Whole transfers only: false when fewer bytes than asked could be moved.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  virtual bool WriteAt(uint64_t offset, const void* data, size_t length) = 0;
  // Makes every completed write durable (fdatasync).
  virtual bool Sync() = 0;
  // Starts writing completed writes out to the disk without waiting for
  // them, so that the disk works while the caller copies on and the next
  // Sync has less to wait for. Only a hint: durability is still Sync's.
  virtual void StartWriteBack() {}
  // Copies `length` bytes from `from` to `to` (ranges that do not overlap)
  // as one read and one write. A device may do it without bringing the
  // bytes through the caller's memory.
  virtual bool CopyWithin(uint64_t from, uint64_t to, size_t length);
  // Whether CopyWithin copies without the bytes passing through our memory
  // (the kernel, within an image file): then a copy per run beats reading
  // the runs together and writing them.
  virtual bool CopiesWithin() const { return false; }
  // Reads every piece whole; a device may send them to the disk together.
  // By default, one ReadAt each.
  virtual bool ReadPieces(std::span<const ReadPiece> pieces);
};

} // namespace quillo
