// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/VolumeDevice.h"
#include "platform/BlockDevice.h"
#include "platform/fat/FatLayout.h"
#include "platform/fat/FatTable.h"

namespace quillo::fat {

// The span of writes between the first move and the end of a pass. Before
// the first write the volume must pass its check; while the session is open
// the volume is marked dirty (the clean bit of FAT entry 1) and the FSInfo
// hints say "unknown", so a crash leaves a volume that every checker looks
// at; at the end the hints are written true and the volume marked clean.
class FatWriteSession {
public:
  using Check = std::function<std::vector<std::string>()>;

  FatWriteSession(BlockDevice& device, const FatLayout& layout, FatTable& table, Check check);

  // Opens the session if it is not open. kStatusSuccess, or the status
  // that every write answers: the volume is read-only, refused by its
  // check, or a write has failed.
  NtStatus Begin();
  // Writes the FSInfo hints and marks the volume clean.
  void End();
  // A write failed: the volume stays dirty and takes no more writes.
  void Fail();
  bool IsOpen() const { return State == SessionState::Open; }
  // Why writes are refused, when they are.
  const std::vector<std::string>& Refusals() const { return Reasons; }
  // Refused before the first write, failed after it, or sound.
  WriteVerdict Verdict() const;

private:
  enum class SessionState { Closed, Open, Refused, Failed };

  NtStatus Refuse(std::string reason, NtStatus status = kStatusDiskCorruptError);
  // Why the boot sector and its backup disagree on the layout, or empty.
  std::string CompareBackupBootSector();
  bool WriteFsInfo(uint32_t freeCount, uint32_t nextFree);

  BlockDevice& Device;
  const FatLayout& Layout;
  FatTable& Table;
  Check RunCheck;
  SessionState State = SessionState::Closed;
  bool Checked = false;
  uint32_t FlagsAtStart = 0;
  NtStatus RefusedStatus = kStatusDiskCorruptError;
  std::vector<std::string> Reasons;
};

} // namespace quillo::fat
