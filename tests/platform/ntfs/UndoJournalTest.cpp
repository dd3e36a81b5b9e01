// SPDX-License-Identifier: GPL-2.0-or-later
// The undo journal's recovery rules, on a volume held in memory: every state
// a power cut can leave behind, and the states it cannot (a volume changed
// since, another volume), which must be refused without a write.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "TestSupport.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/UndoJournal.h"

namespace quillo::test {
namespace {

constexpr uint64_t kVolumeBytes = 64 * kSectorBytes;

class MemoryStorage final : public BlockStorage {
public:
  explicit MemoryStorage(uint64_t size, bool writable = true) : Bytes(size, 0), IsWritable(writable) {}
  int64_t ReadAt(uint64_t offset, void* data, size_t length) override {
    if (offset >= Bytes.size()) return 0;
    size_t take = std::min<size_t>(length, Bytes.size() - offset);
    std::memcpy(data, Bytes.data() + offset, take);
    return int64_t(take);
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    if (!IsWritable || offset + length > Bytes.size()) return false;
    std::memcpy(Bytes.data() + offset, data, length);
    ++Writes;
    return true;
  }
  bool Sync() override { return true; }
  bool Resize(uint64_t size) override {
    Bytes.resize(size);
    return true;
  }
  uint64_t Size() const override { return Bytes.size(); }
  bool Writable() const override { return IsWritable; }

  std::vector<uint8_t> Bytes;
  bool IsWritable;
  int Writes = 0;
};

// A journal file that leaves a copy of itself at every sync.
class SnapshotOnSync final : public BlockStorage {
public:
  SnapshotOnSync(std::unique_ptr<BlockStorage> inner, std::filesystem::path path, std::filesystem::path copy)
      : Inner(std::move(inner)), Path(std::move(path)), Copy(std::move(copy)) {}
  int64_t ReadAt(uint64_t offset, void* data, size_t length) override { return Inner->ReadAt(offset, data, length); }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    return Inner->WriteAt(offset, data, length);
  }
  bool Sync() override {
    bool ok = Inner->Sync();
    std::filesystem::copy_file(Path, Copy, std::filesystem::copy_options::overwrite_existing);
    return ok;
  }
  bool Resize(uint64_t size) override { return Inner->Resize(size); }
  uint64_t Size() const override { return Inner->Size(); }
  bool Writable() const override { return Inner->Writable(); }

private:
  std::unique_ptr<BlockStorage> Inner;
  std::filesystem::path Path;
  std::filesystem::path Copy;
};

std::vector<uint8_t> Filled(size_t length, uint8_t value) { return std::vector<uint8_t>(length, value); }

VolumeIdentity Identity() {
  VolumeIdentity identity;
  identity.SerialNumber = 0x1122334455667788ULL;
  identity.TotalSectors = kVolumeBytes / kSectorBytes;
  identity.MftLcn = 4;
  identity.MftMirrLcn = 30;
  identity.BytesPerSector = kSectorBytes;
  identity.BytesPerCluster = 4096;
  return identity;
}

// An update of three ranges, one of them two sectors long.
std::vector<ImageRange> Update() {
  std::vector<ImageRange> ranges(3);
  ranges[0] = {2 * kSectorBytes, Filled(kSectorBytes, 0x00), Filled(kSectorBytes, 0x11)};
  ranges[1] = {10 * kSectorBytes, Filled(2 * kSectorBytes, 0x00), Filled(2 * kSectorBytes, 0x22)};
  ranges[2] = {40 * kSectorBytes, Filled(kSectorBytes, 0x00), Filled(kSectorBytes, 0x33)};
  return ranges;
}

class UndoJournalTest : public ::testing::Test {
protected:
  std::filesystem::path JournalPath() const { return Dir.Path() / Identity().Uuid(); }

  // A session with one recorded update, left open as by a power cut.
  void Interrupted(bool done) {
    UndoJournal journal(Dir.Path(), ImageFile::Open);
    std::string error;
    ASSERT_TRUE(journal.BeginSession(Identity(), 0x0000, error)) << error;
    ASSERT_TRUE(journal.RecordUpdate(Update(), error)) << error;
    if (done) {
      ASSERT_TRUE(journal.MarkDone(error)) << error;
    }
  }

  void Apply(MemoryStorage& volume, size_t range, size_t sectors) {
    const ImageRange r = Update()[range];
    volume.WriteAt(r.Offset, r.After.data(), std::min(sectors * kSectorBytes, r.After.size()));
  }

  JournalRecovery Recover(MemoryStorage& volume, const VolumeIdentity& identity = Identity()) {
    UndoJournal journal(Dir.Path(), ImageFile::Open);
    return journal.Recover(volume, identity);
  }

  TempDir Dir;
};

uint8_t SectorByte(const MemoryStorage& volume, uint64_t sector) { return volume.Bytes[sector * kSectorBytes]; }

TEST_F(UndoJournalTest, AnInterruptedUpdateIsRolledBackOrKeptAsFound) {
  struct Case {
    const char* Name;
    bool Done;
    // sectors applied per range before the cut
    size_t Applied[3];
    bool RolledBack;
  };
  for (const Case& c : {Case{"nothing applied", false, {0, 0, 0}, true},
                        Case{"first range applied", false, {1, 0, 0}, true},
                        Case{"a torn two-sector write", false, {1, 1, 0}, true},
                        Case{"all but the last", false, {1, 2, 0}, true},
                        Case{"all applied, DONE lost", false, {1, 2, 1}, false},
                        Case{"all applied and DONE", true, {1, 2, 1}, false}}) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(JournalPath());
    MemoryStorage volume(kVolumeBytes);
    Interrupted(c.Done);
    for (size_t range = 0; range < 3; ++range) Apply(volume, range, c.Applied[range]);

    JournalRecovery recovery = Recover(volume);
    ASSERT_EQ(recovery.Outcome, JournalRecovery::Result::Resumed) << recovery.Message;
    uint8_t expected[3] = {0x11, 0x22, 0x33};
    for (size_t range = 0; range < 3; ++range) {
      const ImageRange r = Update()[range];
      for (uint64_t s = 0; s < r.Before.size() / kSectorBytes; ++s)
        EXPECT_EQ(SectorByte(volume, r.Offset / kSectorBytes + s), c.RolledBack ? 0 : expected[range]);
    }
    // The journal stays until the session is ended.
    EXPECT_TRUE(std::filesystem::exists(JournalPath()));
  }
}

TEST_F(UndoJournalTest, AVolumeThatChangedSinceIsRefusedWithoutAWrite) {
  struct Case {
    const char* Name;
    bool Done;
    size_t Applied[3];
    uint64_t ForeignSector; // 0: none
    const char* Words;
  };
  for (const Case& c : {Case{"foreign contents in an interrupted update", false, {1, 0, 0}, 11,
                             "neither its contents from before nor from after"},
                        Case{"a completed update no longer in place", true, {1, 2, 0}, 0,
                             "no longer holds what the last completed update wrote"}}) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(JournalPath());
    MemoryStorage volume(kVolumeBytes);
    Interrupted(c.Done);
    for (size_t range = 0; range < 3; ++range) Apply(volume, range, c.Applied[range]);
    if (c.ForeignSector) std::memset(volume.Bytes.data() + c.ForeignSector * kSectorBytes, 0x77, kSectorBytes);
    std::vector<uint8_t> before = volume.Bytes;
    int writes = volume.Writes;

    JournalRecovery recovery = Recover(volume);
    EXPECT_EQ(recovery.Outcome, JournalRecovery::Result::Mismatch);
    EXPECT_NE(recovery.Message.find(c.Words), std::string::npos) << recovery.Message;
    EXPECT_NE(recovery.Message.find(JournalPath().string()), std::string::npos);
    EXPECT_NE(recovery.Message.find("Nothing was written"), std::string::npos);
    EXPECT_EQ(volume.Bytes, before);
    EXPECT_EQ(volume.Writes, writes);
    EXPECT_TRUE(std::filesystem::exists(JournalPath()));
  }
}

TEST_F(UndoJournalTest, AJournalIsOnlyReplayedOntoItsOwnVolume) {
  Interrupted(false);
  MemoryStorage volume(kVolumeBytes);
  Apply(volume, 0, 1);

  // The same journal found under another volume's name.
  VolumeIdentity other = Identity();
  other.SerialNumber = 0x99;
  std::filesystem::copy_file(JournalPath(), Dir.Path() / other.Uuid());
  JournalRecovery recovery = Recover(volume, other);
  EXPECT_EQ(recovery.Outcome, JournalRecovery::Result::Mismatch);
  EXPECT_NE(recovery.Message.find("1122334455667788"), std::string::npos) << recovery.Message;
  EXPECT_NE(recovery.Message.find("serial number is 0000000000000099"), std::string::npos) << recovery.Message;

  // The same serial number on a volume of another layout.
  VolumeIdentity moved = Identity();
  moved.MftLcn = 8;
  recovery = Recover(volume, moved);
  EXPECT_EQ(recovery.Outcome, JournalRecovery::Result::Mismatch);
  EXPECT_NE(recovery.Message.find("geometry"), std::string::npos) << recovery.Message;
  EXPECT_EQ(SectorByte(volume, 2), 0x11); // untouched
}

TEST_F(UndoJournalTest, TornOrFinishedJournalsAskForNothing) {
  MemoryStorage volume(kVolumeBytes);
  EXPECT_EQ(Recover(volume).Outcome, JournalRecovery::Result::Clean); // none at all

  // A session record cut short: the session never wrote to the volume.
  Interrupted(false);
  std::filesystem::resize_file(JournalPath(), 20);
  EXPECT_EQ(Recover(volume).Outcome, JournalRecovery::Result::Clean);
  EXPECT_FALSE(std::filesystem::exists(JournalPath()));

  // A session that ended but whose journal was not yet deleted: the copy
  // taken at the journal's last sync is the one with CLOSED.
  std::filesystem::path kept = Dir.Path() / "kept";
  StorageOpener snapshotting = [&](const std::filesystem::path& path, StorageMode mode, std::string& error) {
    return std::unique_ptr<BlockStorage>(new SnapshotOnSync(ImageFile::Open(path, mode, error), path, kept));
  };
  {
    UndoJournal journal(Dir.Path(), snapshotting);
    std::string error;
    ASSERT_TRUE(journal.BeginSession(Identity(), 0, error));
    ASSERT_TRUE(journal.RecordUpdate(Update(), error));
    for (size_t range = 0; range < 3; ++range) Apply(volume, range, 2);
    ASSERT_TRUE(journal.MarkDone(error));
    ASSERT_TRUE(journal.EndSession(error)) << error;
  }
  EXPECT_FALSE(std::filesystem::exists(JournalPath()));
  std::filesystem::rename(kept, JournalPath());
  std::vector<uint8_t> before = volume.Bytes;
  EXPECT_EQ(Recover(volume).Outcome, JournalRecovery::Result::Clean);
  EXPECT_FALSE(std::filesystem::exists(JournalPath()));
  EXPECT_EQ(volume.Bytes, before);
}

TEST_F(UndoJournalTest, AnUpdateRecordThatFailsItsChecksIsNotUsed) {
  MemoryStorage volume(kVolumeBytes);
  Interrupted(false);
  // Foreign data where the update would go: checked only if the record is used.
  std::memset(volume.Bytes.data() + 2 * kSectorBytes, 0x77, kSectorBytes);
  {
    std::fstream file(JournalPath(), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(200);
    file.put('\x5A'); // inside the update's payload
  }
  std::vector<uint8_t> before = volume.Bytes;
  JournalRecovery recovery = Recover(volume);
  EXPECT_EQ(recovery.Outcome, JournalRecovery::Result::Resumed) << recovery.Message;
  EXPECT_EQ(volume.Bytes, before);
}

TEST_F(UndoJournalTest, ATakenOverSessionGoesOnAndEnds) {
  MemoryStorage volume(kVolumeBytes);
  Interrupted(false);
  Apply(volume, 0, 1);
  UndoJournal journal(Dir.Path(), ImageFile::Open);
  JournalRecovery recovery = journal.Recover(volume, Identity());
  ASSERT_EQ(recovery.Outcome, JournalRecovery::Result::Resumed);
  EXPECT_EQ(recovery.FlagsBefore, 0);
  EXPECT_TRUE(journal.InSession());
  // The next update replaces the one rolled back; a power cut now leaves it
  // for the next recovery.
  std::vector<ImageRange> next = {{5 * kSectorBytes, Filled(kSectorBytes, 0), Filled(kSectorBytes, 0x55)}};
  std::string error;
  ASSERT_TRUE(journal.RecordUpdate(next, error)) << error;
  volume.WriteAt(next[0].Offset, next[0].After.data(), kSectorBytes);
  {
    UndoJournal again(Dir.Path(), ImageFile::Open);
    ASSERT_EQ(again.Recover(volume, Identity()).Outcome, JournalRecovery::Result::Resumed);
    EXPECT_EQ(SectorByte(volume, 5), 0x55); // completed: kept
  }
  ASSERT_TRUE(journal.MarkDone(error));
  ASSERT_TRUE(journal.EndSession(error)) << error;
  EXPECT_FALSE(std::filesystem::exists(JournalPath()));
  EXPECT_EQ(Recover(volume).Outcome, JournalRecovery::Result::Clean);
}

TEST_F(UndoJournalTest, ARollbackOnAReadOnlyVolumeFails) {
  MemoryStorage volume(kVolumeBytes, false);
  volume.IsWritable = true;
  Apply(volume, 0, 1);
  volume.IsWritable = false;
  Interrupted(false);
  JournalRecovery recovery = Recover(volume);
  EXPECT_EQ(recovery.Outcome, JournalRecovery::Result::Failed);
  EXPECT_NE(recovery.Message.find("read-only"), std::string::npos) << recovery.Message;
}


// A volume that is not marked dirty has no unfinished session: a folder's
// journal that would have anything written to it is out of date (its session
// was finished since, from the copy on the volume) and is refused, kept, with
// nothing written.
TEST_F(UndoJournalTest, OnAVolumeNotMarkedDirtyAJournalThatAsksForWritesIsRefused) {
  struct Case {
    const char* Name;
    size_t Applied[3];
    bool Foreign; // a sector holding neither image
    JournalRecovery::Result Outcome;
  };
  for (const Case& c : {Case{"nothing applied", {0, 0, 0}, false, JournalRecovery::Result::Resumed},
                        Case{"all applied", {1, 2, 1}, false, JournalRecovery::Result::Resumed},
                        Case{"partly applied", {1, 1, 0}, false, JournalRecovery::Result::Mismatch},
                        Case{"changed since", {0, 0, 0}, true, JournalRecovery::Result::Mismatch}}) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(JournalPath());
    MemoryStorage volume(kVolumeBytes);
    Interrupted(false);
    for (size_t range = 0; range < 3; ++range) Apply(volume, range, c.Applied[range]);
    if (c.Foreign) volume.Bytes[2 * kSectorBytes] = 0x77;
    volume.Writes = 0;
    std::vector<uint8_t> before = volume.Bytes;
    UndoJournal journal(Dir.Path(), ImageFile::Open);
    JournalRecovery recovery = journal.Recover(volume, Identity(), nullptr, false);
    EXPECT_EQ(recovery.Outcome, c.Outcome) << recovery.Message;
    EXPECT_EQ(volume.Writes, 0);
    EXPECT_EQ(volume.Bytes, before);
    if (c.Outcome == JournalRecovery::Result::Mismatch) {
      EXPECT_NE(recovery.Message.find("not marked dirty"), std::string::npos) << recovery.Message;
      EXPECT_TRUE(std::filesystem::exists(JournalPath()));
    }
  }
}

// The copy on the volume gets every record the folder's journal gets, and
// recovery reads it whatever the folder holds; the session it takes over goes
// on in a new journal in the folder. A copy that holds no session is not
// ours: refused, nothing written.
TEST_F(UndoJournalTest, TheCopyOnTheVolumeRepairsWithoutTheFolder) {
  constexpr uint64_t kCopyBytes = 16 * kSectorBytes;
  std::vector<uint8_t> copyBytes;
  {
    UndoJournal journal(Dir.Path(), ImageFile::Open);
    std::string error;
    ASSERT_TRUE(journal.BeginSession(Identity(), 0x0000, error)) << error;
    auto copy = std::make_unique<MemoryStorage>(kCopyBytes);
    MemoryStorage* held = copy.get();
    journal.AttachVolumeCopy(std::move(copy));
    EXPECT_GE(journal.UpdateCapacity(), UndoJournal::UpdateBytes(4, 3));
    ASSERT_TRUE(journal.RecordUpdate(Update(), error)) << error;
    copyBytes = held->Bytes;
  }
  for (bool folderKept : {false, true}) {
    SCOPED_TRACE(folderKept ? "a folder journal of another session" : "no folder journal");
    std::filesystem::remove_all(JournalPath());
    if (folderKept) {
      std::ofstream(JournalPath()) << "not this session";
    }
    MemoryStorage volume(kVolumeBytes);
    Apply(volume, 0, 1);
    Apply(volume, 1, 1);
    MemoryStorage copy(kCopyBytes);
    copy.Bytes = copyBytes;
    UndoJournal journal(Dir.Path(), ImageFile::Open);
    JournalRecovery recovery = journal.Recover(volume, Identity(), &copy);
    EXPECT_EQ(recovery.Outcome, JournalRecovery::Result::Resumed) << recovery.Message;
    EXPECT_EQ(SectorByte(volume, 2), 0x00);
    EXPECT_EQ(SectorByte(volume, 11), 0x00);
    EXPECT_TRUE(journal.InSession());
    std::string error;
    EXPECT_TRUE(journal.EndSession(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(JournalPath()));
  }

  MemoryStorage volume(kVolumeBytes);
  Apply(volume, 0, 1);
  volume.Writes = 0;
  MemoryStorage empty(kCopyBytes);
  UndoJournal journal(Dir.Path(), ImageFile::Open);
  JournalRecovery recovery = journal.Recover(volume, Identity(), &empty);
  EXPECT_EQ(recovery.Outcome, JournalRecovery::Result::Mismatch) << recovery.Message;
  EXPECT_NE(recovery.Message.find("on the volume"), std::string::npos) << recovery.Message;
  EXPECT_EQ(volume.Writes, 0);
}

} // namespace
} // namespace quillo::test
