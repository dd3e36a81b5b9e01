// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/ntfs/BlockStorage.h"
#include "platform/ntfs/PendingWrites.h"

struct ntfs_device;

namespace quillo {

// What becomes of the library's writes.
enum class LibraryWrites {
  Refuse,  // read-only mount: a write is an error
  Hold,    // held in PendingWrites until the update is committed
  Discard, // dropped: the library's state is being thrown away
};

// Scratch space of the mover, kept from move to move.
struct MoveBuffers {
  std::vector<uint8_t> Block; // data on its way to the target
  std::vector<ReadPiece> Pieces; // the old pieces behind one block
};

// The ntfs_device through which libntfs-3g reads and writes the volume. The
// library never writes the storage itself: its writes are held until an
// update is committed, so that every change to the volume's metadata passes
// through the undo journal first.
class LibraryDevice {
public:
  LibraryDevice(BlockStorage& storage, std::string name);
  LibraryDevice(const LibraryDevice&) = delete;
  LibraryDevice& operator=(const LibraryDevice&) = delete;

  // A fresh device for one mount. ntfs_umount frees it; after a failed
  // ntfs_device_mount the caller frees it with ntfs_device_free.
  ntfs_device* NewDevice();

  void SetStorage(BlockStorage& storage) { Storage = &storage; }
  BlockStorage& GetStorage() { return *Storage; }
  void SetWrites(LibraryWrites mode) { Writes = mode; }
  LibraryWrites GetWrites() const { return Writes; }
  PendingWrites& Pending() { return Held; }
  MoveBuffers& Buffers() { return Scratch; }
  // File data written straight to free clusters, to be synced before the
  // update that points to it is journaled. Every few MiB of it the disk is
  // asked to start writing, so that it works while the next files are
  // copied instead of all at the commit.
  void NoteUnsyncedData(uint64_t bytes);
  bool TakeUnsyncedData() { return std::exchange(UnsyncedData, false); }

  // Reads as the library would see the volume (held writes included).
  int64_t Read(uint64_t offset, void* data, size_t length);
  // The same for file data, which is not kept in the storage's cache.
  int64_t ReadData(uint64_t offset, void* data, size_t length);
  // Reads every piece of file data whole, together where no held write
  // lies in them.
  bool ReadDataPieces(std::span<const ReadPiece> pieces);
  // Called from the device operations.
  int64_t LibraryWrite(uint64_t offset, const void* data, size_t length);

  uint64_t Position = 0; // for the library's seek/read/write calls

private:
  BlockStorage* Storage;
  std::string Name;
  LibraryWrites Writes = LibraryWrites::Refuse;
  PendingWrites Held;
  bool UnsyncedData = false;
  uint64_t UnsentBytes = 0;
  MoveBuffers Scratch;
};

} // namespace quillo
