// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-addressed storage behind a volume or a journal file. Everything this
// folder writes goes through it, so a test can stand between the code and the
// disk (count writes, cut the power after one of them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/ReadPiece.h"

namespace quillo {

class BlockStorage {
public:
  virtual ~BlockStorage() = default;
  // Reads up to `length` bytes; returns the count read (short at the end of
  // the storage) or -1 on an I/O error.
  virtual int64_t ReadAt(uint64_t offset, void* data, size_t length) = 0;
  // A read of the volume's metadata, which may be served from a cache;
  // file data is read with ReadAt.
  virtual int64_t ReadMetadataAt(uint64_t offset, void* data, size_t length) {
    return ReadAt(offset, data, length);
  }
  // Reads every piece whole (file data, past any cache); a storage may send
  // them to the disk together. False on an I/O error or a short piece.
  virtual bool ReadPieces(std::span<const ReadPiece> pieces) {
    for (const ReadPiece& piece : pieces)
      if (ReadAt(piece.Offset, piece.Buffer, piece.Length) != int64_t(piece.Length)) return false;
    return true;
  }
  // Writes all `length` bytes or fails.
  virtual bool WriteAt(uint64_t offset, const void* data, size_t length) = 0;
  // Makes every completed write durable.
  virtual bool Sync() = 0;
  // Starts writing completed writes out without waiting for them; only a
  // hint, durability is still Sync's.
  virtual void StartWriteBack() {}
  // Cuts or extends the storage (journal files only).
  virtual bool Resize(uint64_t size) = 0;
  virtual uint64_t Size() const = 0;
  virtual bool Writable() const = 0;
};

enum class StorageMode {
  ReadOnly,
  ReadWrite,
  CreateReadWrite, // created when missing
};

// Opens storage by path; null on failure with `error` saying why.
using StorageOpener = std::function<std::unique_ptr<BlockStorage>(
    const std::filesystem::path& path, StorageMode mode, std::string& error)>;

} // namespace quillo
