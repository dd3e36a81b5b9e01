// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <map>

#include "platform/BlockDevice.h"
#include "platform/fat/Definitions.h"

namespace quillo::fat {

// The device under a FAT volume, with directory-entry writes that may not
// reach the disk yet (a link to clusters whose data is not durable) held
// back until they are released. Reads see the held entries at once, so the
// volume reads as it will be; a write over a held entry updates it, so the
// release never brings back older bytes.
class HoldingBlockDevice final : public BlockDevice {
public:
  // Held entries go out in stages, lowest first, each released on its own.
  enum Stage : uint8_t { kLinkStage = 0, kFollowStage = 1 };

  HoldingBlockDevice(BlockDevice& inner, uint32_t bytesPerSector)
      : Inner(inner), SectorBytes(bytesPerSector) {}

  // Holds a directory entry for `offset` (a multiple of its size) until its
  // stage is released; replaces one held there before.
  void Hold(uint64_t offset, const DirEntry& entry, Stage stage);
  bool HasHeld(Stage stage) const;
  bool HasHeld() const { return !Held.empty(); }
  // Writes the held entries of a stage, one write per sector that holds
  // any. False on a write error.
  bool Release(Stage stage);

  uint64_t Size() const override { return Inner.Size(); }
  bool ReadOnly() const override { return Inner.ReadOnly(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override;
  bool WriteAt(uint64_t offset, const void* data, size_t length) override;
  bool Sync() override { return Inner.Sync(); }
  // Held entries are not written yet, so this reaches only what was.
  void StartWriteBack() override { Inner.StartWriteBack(); }
  bool CopyWithin(uint64_t from, uint64_t to, size_t length) override;
  bool CopiesWithin() const override { return Inner.CopiesWithin(); }
  bool ReadPieces(std::span<const ReadPiece> pieces) override;

private:
  struct HeldEntry {
    DirEntry Entry{};
    Stage When = kLinkStage;
  };
  // Calls `use(entry offset, entry bytes)` for every held entry that
  // overlaps [offset, offset + length).
  template <typename Use>
  void ForEachOverlap(uint64_t offset, size_t length, Use use);
  bool TouchesHeld(uint64_t offset, size_t length);

  BlockDevice& Inner;
  uint32_t SectorBytes;
  std::map<uint64_t, HeldEntry> Held;
};

} // namespace quillo::fat
