// SPDX-License-Identifier: GPL-2.0-or-later
// Moves on a real image, and the write session around them. Every result is
// checked by tools outside this program: the files' contents through
// libntfs-3g and ntfscat, their runs through The Sleuth Kit, the bitmap
// against every runlist through ntfsresize.
#include <gtest/gtest.h>

#include <cstdlib>

#include "NtfsTestImage.h"
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FileBlockDevice.h"
#include "platform/NtfsDeviceOpener.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/NtfsDeviceFactory.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo::test {
namespace {

constexpr uint64_t kRecordMask = 0x0000FFFFFFFFFFFFULL;
constexpr uint16_t kVolumeDirty = 0x0001;

uint16_t Le16(const uint8_t* at) { return uint16_t(at[0] | (at[1] << 8)); }

class NtfsMoveTest : public ::testing::Test {
protected:
  void SetUp() override {
    Image = CopyFixtureImage(Dir.Path());
    Journal = Dir.Path() / "journal";
    Manifest = ReadManifest(FixtureDir());
    Open();
  }

  void Open() {
    std::string why;
    Volume = OpenVolume(Image, Journal, why);
    ASSERT_TRUE(Volume) << why;
    VolumeHandle = Volume->OpenVolume("\\\\.\\C:");
  }

  void Close() {
    if (!Volume) return;
    Volume->CloseHandle(VolumeHandle);
    Volume->EndWriteSession();
    Volume.reset();
  }

  Handle OpenPath(const std::string& path) {
    int64_t record = RecordOf(Image, path);
    NtfsFileRecordOutputBuffer answer{};
    if (record < 0 || Volume->GetNtfsFileRecord(VolumeHandle, record, answer) != kStatusSuccess ||
        int64_t(uint64_t(answer.FileReferenceNumber) & kRecordMask) != record)
      return kInvalidHandle;
    uint64_t id = uint64_t(record) | (uint64_t(Le16(answer.FileRecordBuffer + kFileRecordSequenceOffset)) << 48);
    Handle handle = 0;
    return Volume->OpenFileById(VolumeHandle, id, handle) == kStatusSuccess ? handle : kInvalidHandle;
  }

  // Allocated and total clusters of an open file.
  void Clusters(Handle file, int64_t& allocated, int64_t& total) {
    allocated = total = 0;
    auto buffer = std::make_unique<RetrievalPointersBuffer>();
    int64_t vcn = 0;
    for (;;) {
      IoStatusBlock iosb;
      NtStatus status = Volume->GetRetrievalPointers(file, vcn, *buffer, iosb);
      ASSERT_TRUE(status == kStatusSuccess || status == kStatusBufferOverflow);
      int64_t previous = buffer->StartingVcn;
      for (uint32_t i = 0; i < buffer->ExtentCount; ++i) {
        if (buffer->Extents[i].Lcn >= 0) allocated += buffer->Extents[i].NextVcn - previous;
        previous = buffer->Extents[i].NextVcn;
      }
      total = previous;
      if (status == kStatusSuccess) return;
      vcn = previous;
    }
  }

  // The first free run of at least `length` clusters at or after `from`.
  int64_t FreeRun(int64_t length, int64_t from = 0) {
    auto answer = std::make_unique<VolumeBitmapBuffer>();
    IoStatusBlock iosb;
    EXPECT_EQ(Volume->GetVolumeBitmap(VolumeHandle, 0, *answer, iosb), kStatusSuccess);
    int64_t run = 0;
    for (int64_t k = 0; k < answer->BitmapSize; ++k) {
      bool used = (answer->Buffer[k / 8] >> (k % 8)) & 1;
      run = used || k < from ? 0 : run + 1;
      if (run == length) return k - length + 1;
    }
    return -1;
  }

  // A cluster in use at or after `from`.
  int64_t UsedCluster(int64_t from) {
    auto answer = std::make_unique<VolumeBitmapBuffer>();
    IoStatusBlock iosb;
    EXPECT_EQ(Volume->GetVolumeBitmap(VolumeHandle, 0, *answer, iosb), kStatusSuccess);
    for (int64_t k = from; k < answer->BitmapSize; ++k)
      if ((answer->Buffer[k / 8] >> (k % 8)) & 1) return k;
    return -1;
  }

  NtStatus Move(Handle file, int64_t vcn, int64_t lcn, uint32_t count) {
    IoStatusBlock iosb;
    NtStatus status = Volume->MoveFile(VolumeHandle, MoveFileData{file, vcn, lcn, count}, iosb);
    EXPECT_EQ(iosb.Status, status);
    return status;
  }

  // Moves a whole file to a free run, the way the engine asks for it.
  void MoveWhole(const std::string& path, uint32_t chunk = 0) {
    Handle file = OpenPath(path);
    ASSERT_NE(file, kInvalidHandle) << path;
    int64_t allocated = 0, total = 0;
    Clusters(file, allocated, total);
    int64_t target = FreeRun(allocated);
    ASSERT_GE(target, 0) << path;
    if (chunk == 0 || allocated < total) {
      ASSERT_EQ(Move(file, 0, target, uint32_t(total)), kStatusSuccess) << path << " " << Volume->LastProblem();
    } else {
      for (int64_t at = 0; at < total; at += chunk)
        ASSERT_EQ(Move(file, at, target + at, uint32_t(std::min<int64_t>(chunk, total - at))), kStatusSuccess)
            << path << " " << Volume->LastProblem();
    }
    Volume->CloseHandle(file);
  }

  // Contents, consistency and layout as other tools see them.
  void ExpectSoundVolume() {
    Close();
    EXPECT_EQ(CompareWithManifest(Image, Manifest), "");
    EXPECT_EQ(CheckWithNtfsResize(Image), "");
    EXPECT_EQ(VolumeFlags(Image) & kVolumeDirty, 0);
    EXPECT_TRUE(!std::filesystem::exists(Journal) || std::filesystem::is_empty(Journal));
  }

  TempDir Dir;
  std::filesystem::path Image;
  std::filesystem::path Journal;
  std::vector<ManifestEntry> Manifest;
  std::shared_ptr<NtfsVolume> Volume;
  Handle VolumeHandle = kInvalidHandle;
};

TEST_F(NtfsMoveTest, FragmentedFilesEndUpInOneRun) {
  const std::vector<std::string> paths = {
      "/docs/fragmented-a.bin", "/fragmented-b.bin",
      "/Ünïcødé ✓ folder/fragmenté ✓ ünïcødé.bin",
      "/attribute-list.bin",   // its runlist spreads over extent records
      "/docs/many-pieces.bin", // and more so
  };
  for (const std::string& path : paths) MoveWhole(path);
  ExpectSoundVolume();
  for (const std::string& path : paths) {
    std::vector<TskRun> runs = TskRuns(Image, RecordOf(Image, path));
    EXPECT_EQ(TskFragments(runs), 1) << path;
  }
  EXPECT_EQ(CompareWithNtfscat(Image, Manifest), "");
}

TEST_F(NtfsMoveTest, ChunkedMovesAsTheEngineIssuesThem) {
  MoveWhole("/docs/many-pieces.bin", 256); // 600 clusters: 256, 256, 88
  ExpectSoundVolume();
  EXPECT_EQ(TskFragments(TskRuns(Image, RecordOf(Image, "/docs/many-pieces.bin"))), 1);
}

TEST_F(NtfsMoveTest, SparseAndCompressedFilesKeepTheirHoles) {
  for (const std::string path : {"/sparse.bin", "/compressed.txt"}) {
    std::vector<TskRun> before = TskRuns(Image, RecordOf(Image, path));
    MoveWhole(path);
    Close();
    std::vector<TskRun> after = TskRuns(Image, RecordOf(Image, path));
    EXPECT_EQ(TskFragments(after), 1) << path;
    ASSERT_EQ(before.size(), after.size()) << path;
    for (size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(before[i].Length, after[i].Length) << path << " run " << i;
      EXPECT_EQ(before[i].Lcn < 0, after[i].Lcn < 0) << path << " run " << i;
    }
    Open();
  }
  ExpectSoundVolume();
}

TEST_F(NtfsMoveTest, APartOfAFileMoves) {
  Handle file = OpenPath("/docs/many-pieces.bin");
  int64_t target = FreeRun(100);
  ASSERT_EQ(Move(file, 200, target, 100), kStatusSuccess) << Volume->LastProblem();
  Volume->CloseHandle(file);
  ExpectSoundVolume();
  std::vector<TskRun> runs = TskRuns(Image, RecordOf(Image, "/docs/many-pieces.bin"));
  // 600 single-cluster pieces, 100 of them now one run.
  EXPECT_EQ(TskFragments(runs), 501);
}

TEST_F(NtfsMoveTest, RefusalsChangeNothing) {
  std::string before = ImageDigest(Image);
  Handle file = OpenPath("/docs/fragmented-a.bin");
  ASSERT_NE(file, kInvalidHandle);
  int64_t used = UsedCluster(FreeRun(1));
  struct Case {
    int64_t Vcn;
    int64_t Lcn;
    uint32_t Count;
    NtStatus Expected;
  };
  for (const Case& c : {Case{0, used, 10, kStatusAlreadyCommitted},  // target in use
                        Case{0, 1 << 30, 10, kStatusInvalidParameter}, // past the volume
                        Case{5, 0, 0, kStatusInvalidParameter},       // nothing to move
                        Case{8, 100, 10, kStatusInvalidParameter},    // past the file's end
                        Case{-1, 100, 1, kStatusInvalidParameter}}) {
    EXPECT_EQ(Move(file, c.Vcn, c.Lcn, c.Count), c.Expected) << c.Vcn << " " << c.Lcn;
  }
  IoStatusBlock iosb;
  EXPECT_EQ(Volume->MoveFile(12345, MoveFileData{file, 0, 100, 1}, iosb), kStatusInvalidHandle);
  EXPECT_EQ(Move(12345, 0, 100, 1), kStatusInvalidHandle);
  Volume->CloseHandle(file);

  // The file system's own files, and everything under $Extend, stay.
  for (const std::string path : {"/$MFTMirr", "/$LogFile", "/$UpCase", "/$Extend/$ObjId", "/$Extend/$Quota"}) {
    Handle system = OpenPath(path);
    ASSERT_NE(system, kInvalidHandle) << path;
    EXPECT_EQ(Move(system, 0, FreeRun(1), 1), kStatusAccessDenied) << path;
    Volume->CloseHandle(system);
  }
  // A file without clusters of its own.
  Handle tiny = OpenPath("/tiny.txt");
  EXPECT_EQ(Move(tiny, 0, FreeRun(1), 1), kStatusEndOfFile);
  Volume->CloseHandle(tiny);
  Close();
  // No write session was begun for any of them.
  EXPECT_EQ(ImageDigest(Image), before);
  EXPECT_FALSE(std::filesystem::exists(Journal));
}

TEST_F(NtfsMoveTest, TheVolumeIsDirtyAndJournaledOnlyDuringTheSession) {
  Handle file = OpenPath("/fragmented-b.bin");
  int64_t allocated = 0, total = 0;
  Clusters(file, allocated, total);
  ASSERT_EQ(Move(file, 0, FreeRun(allocated), uint32_t(total)), kStatusSuccess);
  // Read with a second reader while the session is open.
  EXPECT_EQ(VolumeFlags(Image) & kVolumeDirty, kVolumeDirty);
  ASSERT_TRUE(std::filesystem::exists(Journal / "51D0C0DE0BADF00D"));
  // The device sees its own move.
  int64_t after = 0;
  Clusters(file, after, total);
  EXPECT_EQ(after, allocated);
  Volume->EndWriteSession();
  EXPECT_EQ(VolumeFlags(Image) & kVolumeDirty, 0);
  EXPECT_FALSE(std::filesystem::exists(Journal / "51D0C0DE0BADF00D"));
  // A second session after the first.
  Volume->CloseHandle(file);
  MoveWhole("/docs/fragmented-a.bin");
  ExpectSoundVolume();
}

TEST_F(NtfsMoveTest, TheDriveTableDeviceKeepsItsJournalInTheConfigurationFolder) {
  Close();
  TempDir home;
  const char* previous = std::getenv("QUILLODEFRAG_HOME");
  std::string saved = previous ? previous : "";
  setenv("QUILLODEFRAG_HOME", home.Path().c_str(), 1);
  VolumeSource source;
  source.VolumeName = "E:";
  source.Location = source.Path = Image.string();
  int fd = open(Image.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string why;
  std::shared_ptr<VolumeDevice> device = OpenNtfsDevice(
      source, std::make_unique<FileBlockDevice>(fd, 0, std::filesystem::file_size(Image), false), why);
  if (previous)
    setenv("QUILLODEFRAG_HOME", saved.c_str(), 1);
  else
    unsetenv("QUILLODEFRAG_HOME");
  ASSERT_TRUE(device) << why;

  Handle volume = device->OpenVolume("\\\\.\\E:");
  ASSERT_NE(volume, kInvalidHandle);
  Handle file = device->CreateFile("E:\\fragmented-b.bin", kGenericRead, kFileShareRead, 0);
  ASSERT_NE(file, kInvalidHandle);
  auto bitmap = std::make_unique<VolumeBitmapBuffer>();
  IoStatusBlock iosb;
  ASSERT_EQ(device->GetVolumeBitmap(volume, 0, *bitmap, iosb), kStatusSuccess);
  int64_t target = -1;
  for (int64_t k = 0, run = 0; k < bitmap->BitmapSize && target < 0; ++k) {
    run = (bitmap->Buffer[k / 8] >> (k % 8)) & 1 ? 0 : run + 1;
    if (run == 25) target = k - 24;
  }
  ASSERT_EQ(device->MoveFile(volume, MoveFileData{file, 0, target, 25}, iosb), kStatusSuccess);
  EXPECT_TRUE(std::filesystem::exists(home.Path() / "journal" / "51D0C0DE0BADF00D"));
  device->CloseHandle(file);
  device->EndWriteSession();
  EXPECT_FALSE(std::filesystem::exists(home.Path() / "journal" / "51D0C0DE0BADF00D"));
  device->CloseHandle(volume);
  device.reset();
  EXPECT_EQ(CheckWithNtfsResize(Image), "");
}

TEST_F(NtfsMoveTest, AVolumeOpenReadOnlyIsAnalysedButNeverWritten) {
  Close();
  std::string before = ImageDigest(Image);
  std::string why;
  Volume = OpenVolume(Image, Journal, why, {}, StorageMode::ReadOnly);
  ASSERT_TRUE(Volume) << why;
  VolumeHandle = Volume->OpenVolume("\\\\.\\C:");
  Handle file = OpenPath("/fragmented-b.bin");
  int64_t allocated = 0, total = 0;
  Clusters(file, allocated, total);
  EXPECT_EQ(Move(file, 0, FreeRun(allocated), uint32_t(total)), kStatusMediaWriteProtected);
  EXPECT_NE(Volume->LastProblem().find("read-only"), std::string::npos) << Volume->LastProblem();
  Volume->CloseHandle(file);
  Close();
  EXPECT_EQ(ImageDigest(Image), before);
  EXPECT_FALSE(std::filesystem::exists(Journal));
}

} // namespace
} // namespace quillo::test

namespace quillo::test {
namespace {

// How a storage goes bad, counted in writes (0: never).
struct Fault {
  int64_t FailWritesFrom = 0; // this write and every later one fail
  int64_t FailSyncsFrom = 0;  // flushes fail once this many writes were made
  int64_t CutAt = 0;          // the process ends at this write, as on a power cut
  int64_t FailWritesTo = 0;   // the last write that fails (0: no last one)
};

// The image's storage, counting writes and going bad as told.
class FailingStorage final : public BlockStorage {
public:
  FailingStorage(std::unique_ptr<BlockStorage> inner, Fault fault, int64_t& writes)
      : Inner(std::move(inner)), Faults(fault), Writes(writes) {}
  int64_t ReadAt(uint64_t offset, void* data, size_t length) override {
    return Inner->ReadAt(offset, data, length);
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    ++Writes;
    if (Writes == Faults.CutAt) _exit(0);
    if (Faults.FailWritesFrom > 0 && Writes >= Faults.FailWritesFrom &&
        (Faults.FailWritesTo == 0 || Writes <= Faults.FailWritesTo))
      return false;
    return Inner->WriteAt(offset, data, length);
  }
  bool Sync() override {
    if (Faults.FailSyncsFrom > 0 && Writes >= Faults.FailSyncsFrom) return false;
    return Inner->Sync();
  }
  bool Resize(uint64_t size) override { return Inner->Resize(size); }
  uint64_t Size() const override { return Inner->Size(); }
  bool Writable() const override { return Inner->Writable(); }

private:
  std::unique_ptr<BlockStorage> Inner;
  Fault Faults;
  int64_t& Writes;
};

class NtfsFailedWriteTest : public NtfsMoveTest {
protected:
  // Moves the attribute-list file (its move rewrites extent records) on a
  // volume whose storage fails from write `failFrom` on; the writes made.
  int64_t MoveFailingFrom(int64_t failFrom, WriteVerdict& verdict) {
    return MoveWith(Fault{failFrom, 0, 0}, verdict);
  }

  // Opens the image again on a storage that fails as told, counting its
  // writes in `writes`, which must outlive the volume.
  bool OpenFailing(Fault fault, int64_t& writes) {
    Close();
    StorageOpener failing = [fault, &writes](const std::filesystem::path& path, StorageMode mode,
                                             std::string& error) {
      std::unique_ptr<BlockStorage> inner = ImageFile::Open(path, mode, error);
      return inner ? std::unique_ptr<BlockStorage>(new FailingStorage(std::move(inner), fault, writes))
                   : nullptr;
    };
    std::string why;
    Volume = OpenVolume(Image, Journal, why, failing);
    EXPECT_TRUE(Volume) << why;
    if (!Volume) return false;
    VolumeHandle = Volume->OpenVolume("\\\\.\\C:");
    return true;
  }

  int64_t MoveWith(Fault fault, WriteVerdict& verdict) {
    bool faultless = fault.FailWritesFrom == 0 && fault.FailSyncsFrom == 0 && fault.CutAt == 0;
    int64_t writes = 0;
    if (!OpenFailing(fault, writes)) return 0;
    Handle file = OpenPath("/attribute-list.bin");
    int64_t allocated = 0, total = 0;
    Clusters(file, allocated, total);
    int64_t target = FreeRun(allocated);
    NtStatus status = Move(file, 0, target, uint32_t(total));
    if (faultless) {
      EXPECT_EQ(status, kStatusSuccess) << Volume->LastProblem();
    }
    Volume->CloseHandle(file);
    Volume->CloseHandle(VolumeHandle);
    Volume->EndWriteSession();
    verdict = Volume->GetWriteVerdict();
    Volume.reset();
    return writes;
  }
};

TEST_F(NtfsFailedWriteTest, AMoveWhoseWritesFailLeavesEveryFileWholeAndIsToldAsFailed) {
  std::filesystem::path pristine = Dir.Path() / "pristine.img";
  std::filesystem::copy_file(Image, pristine);
  WriteVerdict verdict;
  int64_t writes = MoveFailingFrom(0, verdict);
  ASSERT_GT(writes, 0);
  EXPECT_EQ(verdict.Result, WriteVerdict::Kind::Sound);
  for (int64_t failFrom = 1; failFrom <= writes; ++failFrom) {
    SCOPED_TRACE("writes fail from " + std::to_string(failFrom));
    std::filesystem::copy_file(pristine, Image, std::filesystem::copy_options::overwrite_existing);
    MoveFailingFrom(failFrom, verdict);
    // Whatever was reached, the volume is not reported as done...
    EXPECT_NE(verdict.Result, WriteVerdict::Kind::Sound);
    EXPECT_FALSE(verdict.Reason.empty());
    // ...and the next open (repairing from the journal where one was left)
    // finds every file whole and the volume consistent.
    Open();
    ExpectSoundVolume();
  }
}

TEST_F(NtfsFailedWriteTest, TheVolumeFlagsComeBackBitForBit) {
  // Bits Windows sets that libntfs-3g does not know (0x0080 on Windows 10),
  // and others nobody defines.
  constexpr uint16_t kUnusualFlags = 0x0080 | 0x0200 | 0x1000;
  Close();
  std::vector<uint8_t> bytes = {uint8_t(kUnusualFlags & 0xFF), uint8_t(kUnusualFlags >> 8)};
  ASSERT_EQ(PatchRecordAttribute(Image, FILE_Volume, uint32_t(AT_VOLUME_INFORMATION),
                                 offsetof(VOLUME_INFORMATION, flags), true, bytes),
            "");
  ASSERT_EQ(VolumeFlags(Image), kUnusualFlags);
  std::filesystem::path pristine = Dir.Path() / "pristine.img";
  std::filesystem::copy_file(Image, pristine);
  WriteVerdict verdict;
  int64_t writes = MoveWith(Fault{}, verdict);
  ASSERT_GT(writes, 4);

  struct Case {
    const char* Name;
    Fault Faults;
    bool InChild; // the fault ends the process
  };
  std::vector<Case> cases = {
      {"a whole move", Fault{}, false},
      {"writes failing halfway", Fault{writes / 2, 0, 0}, false},
      {"flushes failing after the first writes", Fault{0, 2, 0}, false},
      {"a power cut halfway", Fault{0, 0, writes / 2}, true},
      {"a power cut at the last write", Fault{0, 0, writes}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::copy_file(pristine, Image, std::filesystem::copy_options::overwrite_existing);
    if (c.InChild) {
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        WriteVerdict ignored;
        MoveWith(c.Faults, ignored);
        _exit(1); // the cut never came
      }
      int status = 0;
      waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run ended before its cut";
    } else {
      MoveWith(c.Faults, verdict);
    }
    // The next open repairs what is left to repair and ends the session.
    Open();
    Close();
    EXPECT_EQ(VolumeFlags(Image), kUnusualFlags);
    EXPECT_EQ(CheckWithNtfsResize(Image), "");
    EXPECT_EQ(CompareWithManifest(Image, Manifest), "");
  }
}

// Moves are held together and committed as one update. Until then the
// clusters they left stay in use: the volume still points to them.
TEST_F(NtfsMoveTest, HeldMovesKeepTheirOldClustersUntilCommitted) {
  Handle readme = OpenPath("/docs/readme.txt");
  ASSERT_NE(readme, kInvalidHandle);
  std::vector<TskRun> before = TskRuns(Image, RecordOf(Image, "/docs/readme.txt"));
  ASSERT_EQ(before.size(), 1u);
  int64_t old = before[0].Lcn;
  int64_t target = FreeRun(before[0].Length);
  ASSERT_EQ(Move(readme, 0, target, uint32_t(before[0].Length)), kStatusSuccess) << Volume->LastProblem();
  EXPECT_EQ(UsedCluster(old), old);
  // Another file may not take them yet.
  Handle small = OpenPath("/docs/nested/fragmented-c.bin");
  ASSERT_NE(small, kInvalidHandle);
  EXPECT_EQ(Move(small, 0, old, 1), kStatusAlreadyCommitted);
  // Nothing of the moves reached the volume yet.
  EXPECT_EQ(TskRuns(Image, RecordOf(Image, "/docs/readme.txt"))[0].Lcn, old);

  Volume->EndWriteSession();
  EXPECT_NE(UsedCluster(old), old);
  EXPECT_EQ(Move(small, 0, old, 1), kStatusSuccess) << Volume->LastProblem();
  for (Handle handle : {readme, small}) Volume->CloseHandle(handle);
  ExpectSoundVolume();
  EXPECT_EQ(TskRuns(Image, RecordOf(Image, "/docs/readme.txt"))[0].Lcn, target);
}

class NtfsMoveGroupFailureTest : public NtfsFailedWriteTest {
protected:
  struct Run {
    NtStatus First = kStatusUnsuccessful;
    NtStatus Second = kStatusUnsuccessful;
    int64_t WritesAfterFirst = 0;
    int64_t Writes = 0;
    int64_t FirstTarget = -1;
    WriteVerdict Verdict;
  };
  // Two moves held in one group (readme, then the attribute-list file), the
  // session ended, on a storage that fails as told.
  Run TwoMoves(Fault fault) {
    Run run;
    int64_t writes = 0;
    if (!OpenFailing(fault, writes)) return run;
    int64_t allocated = 0, total = 0;
    Handle readme = OpenPath("/docs/readme.txt");
    Clusters(readme, allocated, total);
    run.FirstTarget = FreeRun(allocated);
    run.First = Move(readme, 0, run.FirstTarget, uint32_t(total));
    run.WritesAfterFirst = writes;
    Handle list = OpenPath("/attribute-list.bin");
    Clusters(list, allocated, total);
    run.Second = Move(list, 0, FreeRun(allocated), uint32_t(total));
    for (Handle handle : {readme, list, VolumeHandle}) Volume->CloseHandle(handle);
    Volume->EndWriteSession();
    run.Verdict = Volume->GetWriteVerdict();
    run.Writes = writes;
    Volume.reset();
    return run;
  }
};

// A move that fails takes nothing held before it with it.
TEST_F(NtfsMoveGroupFailureTest, AFailedMoveKeepsTheMovesHeldBeforeIt) {
  std::filesystem::path pristine = Dir.Path() / "pristine.img";
  std::filesystem::copy_file(Image, pristine);
  Run clean = TwoMoves(Fault{});
  ASSERT_EQ(clean.First, kStatusSuccess);
  ASSERT_EQ(clean.Second, kStatusSuccess);

  std::filesystem::copy_file(pristine, Image, std::filesystem::copy_options::overwrite_existing);
  // The second move's first copy of data fails, and only that write.
  int64_t failing = clean.WritesAfterFirst + 1;
  Run run = TwoMoves(Fault{failing, 0, 0, failing});
  EXPECT_EQ(run.First, kStatusSuccess);
  EXPECT_NE(run.Second, kStatusSuccess);
  EXPECT_EQ(run.Verdict.Result, WriteVerdict::Kind::Sound) << run.Verdict.Reason;
  Open();
  ExpectSoundVolume();
  EXPECT_EQ(TskRuns(Image, RecordOf(Image, "/docs/readme.txt"))[0].Lcn, clean.FirstTarget);
  EXPECT_GT(TskFragments(TskRuns(Image, RecordOf(Image, "/attribute-list.bin"))), 1);
}

// When the group cannot be committed, every move of it is undone and the
// pass is told so, though each move was answered as done.
TEST_F(NtfsMoveGroupFailureTest, AGroupThatCannotBeCommittedIsUndoneAndToldAsFailed) {
  std::filesystem::path pristine = Dir.Path() / "pristine.img";
  std::filesystem::copy_file(Image, pristine);
  Run clean = TwoMoves(Fault{});
  ASSERT_GT(clean.Writes, clean.WritesAfterFirst);
  for (Fault fault : {Fault{0, clean.WritesAfterFirst + 1, 0}, Fault{clean.Writes - 1, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << "writes fail from " << fault.FailWritesFrom
                                    << ", flushes from " << fault.FailSyncsFrom);
    std::filesystem::copy_file(pristine, Image, std::filesystem::copy_options::overwrite_existing);
    Run run = TwoMoves(fault);
    EXPECT_EQ(run.Verdict.Result, WriteVerdict::Kind::Failed);
    EXPECT_FALSE(run.Verdict.Reason.empty());
    Open();
    ExpectSoundVolume();
  }
}

} // namespace
} // namespace quillo::test
