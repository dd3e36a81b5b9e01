// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/fat/FatWriteSession.h"

namespace quillo::fat {

namespace {

constexpr const char* kCheckWithFsck = "; check the volume with fsck.fat first";

} // namespace

FatWriteSession::FatWriteSession(BlockDevice& device, const FatLayout& layout, FatTable& table,
                                 Check check)
    : Device(device), Layout(layout), Table(table), RunCheck(std::move(check)) {}

NtStatus FatWriteSession::Refuse(std::string reason, NtStatus status) {
  State = SessionState::Refused;
  RefusedStatus = status;
  Reasons.push_back(std::move(reason));
  return status;
}

WriteVerdict FatWriteSession::Verdict() const {
  if (State != SessionState::Refused && State != SessionState::Failed) return {};
  std::string reason;
  for (const std::string& text : Reasons) reason += (reason.empty() ? "" : "; ") + text;
  return {State == SessionState::Refused ? WriteVerdict::Kind::Refused : WriteVerdict::Kind::Failed,
          reason};
}

std::string FatWriteSession::CompareBackupBootSector() {
  if (Layout.BackupBootSector == kNoBackupBootSector) return {};
  std::string where =
      "the backup boot sector (sector " + std::to_string(Layout.BackupBootSector) + ")";
  BootSector boot;
  BootSector backup;
  uint64_t backupOffset = uint64_t(Layout.BackupBootSector) * Layout.BytesPerSector;
  if (!Device.ReadAt(0, &boot, sizeof(boot)) ||
      !Device.ReadAt(backupOffset, &backup, sizeof(backup)))
    return where + " cannot be read";
  // A sector without the signature holds no layout another tool could take.
  if (backup.Signature.Get() != kBootSignature) return {};
  std::string fields = DifferingLayoutFields(boot, backup);
  if (fields.empty()) return {};
  return "the boot sector and " + where + " describe different layouts (" + fields + ")";
}

NtStatus FatWriteSession::Begin() {
  switch (State) {
  case SessionState::Open: return kStatusSuccess;
  case SessionState::Refused: return RefusedStatus;
  case SessionState::Failed: return kStatusUnsuccessful;
  case SessionState::Closed: break;
  }
  if (Device.ReadOnly())
    return Refuse("the volume is open read-only: nothing can be moved", kStatusMediaWriteProtected);

  // Other tools read the first FAT whatever ExtFlags says: moves written to
  // the active FAT alone would leave them reading another volume.
  if (!Layout.Mirrored)
    return Refuse("FAT mirroring is turned off (FAT " + std::to_string(Layout.ActiveFat + 1) +
                  " is the only active copy) and other tools read FAT 1 regardless, so they "
                  "would disagree with what is written; nothing is moved");
  std::string backup = CompareBackupBootSector();
  if (!backup.empty()) return Refuse(backup + kCheckWithFsck);

  uint32_t flags = Table.Flags();
  if (!(flags & kFatCleanShutdownBit))
    return Refuse("the volume was not cleanly unmounted; check it with fsck.fat first");
  if (!(flags & kFatNoHardErrorBit))
    return Refuse("the volume has recorded disk errors; check it with fsck.fat first");
  if (!Checked) {
    std::string copies = Table.CompareCopies(Device);
    if (!copies.empty()) return Refuse(copies + kCheckWithFsck);
    std::vector<std::string> problems = RunCheck();
    if (!problems.empty()) {
      for (std::string& problem : problems) Reasons.push_back(std::move(problem));
      return Refuse("the volume is damaged; check it with fsck.fat first");
    }
    Checked = true;
  }

  FlagsAtStart = flags;
  Table.SetFlags(flags & ~kFatCleanShutdownBit);
  if (!Table.Flush(Device) || !WriteFsInfo(kFsInfoUnknown, kFsInfoUnknown) || !Device.Sync()) {
    Fail();
    return kStatusUnsuccessful;
  }
  State = SessionState::Open;
  return kStatusSuccess;
}

bool FatWriteSession::WriteFsInfo(uint32_t freeCount, uint32_t nextFree) {
  if (Layout.FsInfoSector == 0) return true;
  Le32 values[2];
  values[0].Set(freeCount);
  values[1].Set(nextFree);
  uint64_t offset = uint64_t(Layout.FsInfoSector) * Layout.BytesPerSector +
                    offsetof(FsInfoSector, FreeCount);
  static_assert(offsetof(FsInfoSector, NxtFree) == offsetof(FsInfoSector, FreeCount) + 4);
  return Device.WriteAt(offset, values, sizeof(values));
}

void FatWriteSession::End() {
  if (State != SessionState::Open) return;
  uint32_t nextFree = Table.FirstFreeCluster();
  if (!WriteFsInfo(Table.FreeCount(), nextFree == 0 ? kFsInfoUnknown : nextFree) ||
      !Device.Sync()) {
    Fail();
    return;
  }
  Table.SetFlags(FlagsAtStart | kFatCleanShutdownBit);
  if (!Table.Flush(Device) || !Device.Sync()) {
    Fail();
    return;
  }
  State = SessionState::Closed;
}

void FatWriteSession::Fail() {
  State = SessionState::Failed;
  Reasons.push_back("a write to the volume failed; it stays marked dirty");
}

} // namespace quillo::fat
