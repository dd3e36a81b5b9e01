// SPDX-License-Identifier: GPL-2.0-or-later
// The NTFS device's answers on a real image, checked against tools that do
// not share its code: ntfscat, The Sleuth Kit and libntfs-3g read directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>

#include "NtfsTestImage.h"
#include "engine/TextCodec.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/NtfsLibrary.h"

namespace quillo::test {
namespace {

constexpr uint64_t kSerialNumber = 0x51D0C0DE0BADF00DULL;
constexpr uint32_t kClusterBytes = 4096;
constexpr uint32_t kRecordBytes = 1024;
constexpr uint64_t kRecordMask = 0x0000FFFFFFFFFFFFULL;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;
constexpr uint64_t kFileTimeOfUnixEpoch = 116444736000000000ULL;

uint16_t Le16(const uint8_t* at) { return uint16_t(at[0] | (at[1] << 8)); }

std::u16string WindowsPath(const std::string& path) {
  std::string text = path;
  std::replace(text.begin(), text.end(), '/', '\\');
  std::u16string wide;
  Utf8ToUtf16(text, wide);
  return wide;
}

class NtfsVolumeTest : public ::testing::Test {
protected:
  void SetUp() override {
    Image = CopyFixtureImage(Dir.Path());
    Manifest = ReadManifest(FixtureDir());
    std::string why;
    Volume = OpenVolume(Image, Dir.Path() / "journal", why);
    ASSERT_TRUE(Volume) << why;
    VolumeHandle = Volume->OpenVolume("\\\\.\\c:");
    ASSERT_NE(VolumeHandle, kInvalidHandle);
  }

  // What the engine does: ask for the record, then open by identifier.
  Handle OpenRecord(int64_t record) {
    NtfsFileRecordOutputBuffer answer{};
    if (Volume->GetNtfsFileRecord(VolumeHandle, record, answer) != kStatusSuccess) return kInvalidHandle;
    if ((uint64_t(answer.FileReferenceNumber) & kRecordMask) != uint64_t(record)) return kInvalidHandle;
    uint64_t id = uint64_t(record) | (uint64_t(Le16(answer.FileRecordBuffer + kFileRecordSequenceOffset)) << 48);
    Handle handle = 0;
    if (Volume->OpenFileById(VolumeHandle, id, handle) != kStatusSuccess) return kInvalidHandle;
    return handle;
  }

  // All runs of a file through as many answers as it takes.
  NtStatus Runs(Handle file, std::vector<TskRun>& runs, int& answers) {
    runs.clear();
    answers = 0;
    auto buffer = std::make_unique<RetrievalPointersBuffer>();
    int64_t vcn = 0;
    for (;;) {
      IoStatusBlock iosb;
      NtStatus status = Volume->GetRetrievalPointers(file, vcn, *buffer, iosb);
      if (status != kStatusSuccess && status != kStatusBufferOverflow) return status;
      ++answers;
      EXPECT_LE(buffer->ExtentCount, kRetrievalCapacity);
      EXPECT_EQ(buffer->StartingVcn, vcn);
      int64_t previous = buffer->StartingVcn;
      for (uint32_t i = 0; i < buffer->ExtentCount; ++i) {
        runs.push_back({buffer->Extents[i].Lcn, buffer->Extents[i].NextVcn - previous});
        previous = buffer->Extents[i].NextVcn;
      }
      if (status == kStatusSuccess) return status;
      vcn = previous;
    }
  }

  TempDir Dir;
  std::filesystem::path Image;
  std::vector<ManifestEntry> Manifest;
  std::shared_ptr<NtfsVolume> Volume;
  Handle VolumeHandle = kInvalidHandle;
};

TEST_F(NtfsVolumeTest, GeometryAndVolumeDataComeFromTheVolume) {
  DiskGeometry geometry;
  ASSERT_TRUE(Volume->GetGeometry("C:\\", geometry));
  EXPECT_EQ(geometry.BytesPerSector, 512u);
  EXPECT_EQ(geometry.SectorsPerCluster, 8u);
  // 24 MiB, less the backup boot sector's cluster.
  EXPECT_EQ(geometry.TotalNumberOfClusters, 24u * 1024 * 1024 / kClusterBytes - 1);

  NtfsVolumeDataBuffer data{};
  ASSERT_EQ(Volume->GetNtfsVolumeData(VolumeHandle, data), kStatusSuccess);
  EXPECT_EQ(uint64_t(data.VolumeSerialNumber), kSerialNumber);
  EXPECT_EQ(data.TotalClusters, int64_t(geometry.TotalNumberOfClusters));
  EXPECT_EQ(data.FreeClusters, int64_t(geometry.NumberOfFreeClusters));
  EXPECT_EQ(data.BytesPerCluster, kClusterBytes);
  EXPECT_EQ(data.BytesPerFileRecordSegment, kRecordBytes);

  ntfs_volume* direct = ntfs_mount(Image.c_str(), NTFS_MNT_RDONLY);
  ASSERT_NE(direct, nullptr);
  ASSERT_EQ(ntfs_volume_get_free_space(direct), 0);
  EXPECT_EQ(data.MftStartLcn, direct->mft_lcn);
  EXPECT_EQ(data.Mft2StartLcn, direct->mftmirr_lcn);
  EXPECT_EQ(data.MftValidDataLength, direct->mft_na->initialized_size);
  EXPECT_EQ(data.FreeClusters, direct->free_clusters);
  ntfs_umount(direct, FALSE);

  VolumeInformation info;
  ASSERT_TRUE(Volume->GetVolumeInformation("C:\\", 10, info));
  EXPECT_EQ(info.FileSystemName, "NTFS");
  EXPECT_EQ(info.VolumeLabel, "QUILLO");
  EXPECT_EQ(info.SerialNumber, uint32_t(kSerialNumber));
  EXPECT_FALSE(Volume->GetVolumeInformation("C:\\", 4, info)); // no room for "NTFS"
  EXPECT_FALSE(Volume->GetGeometry("D:\\", geometry));
  EXPECT_EQ(Volume->OpenVolume("\\\\.\\D:"), kInvalidHandle);
}

TEST_F(NtfsVolumeTest, BitmapIsTheVolumeBitmapFile) {
  CommandResult bitmap = RunCommand({"ntfscat", "-i", "6", Image.string()});
  ASSERT_EQ(bitmap.ExitCode, 0);
  DiskGeometry geometry;
  ASSERT_TRUE(Volume->GetGeometry("C:\\", geometry));
  uint32_t total = geometry.TotalNumberOfClusters;
  auto answer = std::make_unique<VolumeBitmapBuffer>();
  IoStatusBlock iosb;
  // Answers start on a byte boundary of the bitmap.
  for (int64_t asked : {int64_t(0), int64_t(13)}) {
    ASSERT_EQ(Volume->GetVolumeBitmap(VolumeHandle, asked, *answer, iosb), kStatusSuccess);
    int64_t base = answer->StartingLcn;
    EXPECT_EQ(base, asked / 8 * 8);
    EXPECT_EQ(answer->BitmapSize, int64_t(total) - base);
    uint32_t free = 0;
    for (uint32_t lcn = uint32_t(base); lcn < total; ++lcn) {
      uint32_t k = lcn - uint32_t(base);
      bool mine = (answer->Buffer[k / 8] >> (k % 8)) & 1;
      bool theirs = (uint8_t(bitmap.Output[lcn / 8]) >> (lcn % 8)) & 1;
      ASSERT_EQ(mine, theirs) << "cluster " << lcn;
      free += !mine;
    }
    if (base == 0) {
      EXPECT_EQ(free, geometry.NumberOfFreeClusters);
    }
    // Bits past the last cluster are clear.
    uint32_t last = total - uint32_t(base);
    EXPECT_EQ(answer->Buffer[last / 8] >> (last % 8), 0);
  }
  EXPECT_EQ(Volume->GetVolumeBitmap(VolumeHandle, total, *answer, iosb), kStatusInvalidParameter);
  EXPECT_EQ(Volume->GetVolumeBitmap(12345, 0, *answer, iosb), kStatusInvalidHandle);
}

TEST(NtfsLargeVolume, BitmapAnswersHold655360ClustersAndContinue) {
  // 420 MiB of 512-byte clusters: more than one answer's worth.
  TempDir dir;
  std::filesystem::path image = dir.Path() / "large.img";
  { std::ofstream(image).close(); }
  std::filesystem::resize_file(image, uint64_t(420) << 20);
  ASSERT_EQ(RunCommand({"mkntfs", "-F", "-Q", "-T", "-q", "-c", "512", image.string()}).ExitCode, 0);
  CommandResult bitmap = RunCommand({"ntfscat", "-i", "6", image.string()});
  ASSERT_EQ(bitmap.ExitCode, 0);
  std::string why;
  std::shared_ptr<NtfsVolume> volume = OpenVolume(image, dir.Path() / "journal", why);
  ASSERT_TRUE(volume) << why;
  Handle handle = volume->OpenVolume("\\\\.\\C:");
  DiskGeometry geometry;
  ASSERT_TRUE(volume->GetGeometry("C:\\", geometry));
  int64_t total = geometry.TotalNumberOfClusters;
  ASSERT_GT(total, int64_t(kBitmapCapacityClusters));

  auto answer = std::make_unique<VolumeBitmapBuffer>();
  IoStatusBlock iosb;
  ASSERT_EQ(volume->GetVolumeBitmap(handle, 0, *answer, iosb), kStatusBufferOverflow);
  EXPECT_EQ(answer->StartingLcn, 0);
  EXPECT_EQ(answer->BitmapSize, total);
  int64_t checked = 0;
  auto compare = [&](int64_t base, int64_t count) {
    for (int64_t k = 0; k < count; ++k) {
      int64_t lcn = base + k;
      bool mine = (answer->Buffer[k / 8] >> (k % 8)) & 1;
      bool theirs = (uint8_t(bitmap.Output[size_t(lcn / 8)]) >> (lcn % 8)) & 1;
      ASSERT_EQ(mine, theirs) << "cluster " << lcn;
      ++checked;
    }
  };
  compare(0, kBitmapCapacityClusters);
  ASSERT_EQ(volume->GetVolumeBitmap(handle, kBitmapCapacityClusters, *answer, iosb), kStatusSuccess);
  EXPECT_EQ(answer->StartingLcn, int64_t(kBitmapCapacityClusters));
  EXPECT_EQ(answer->BitmapSize, total - kBitmapCapacityClusters);
  compare(kBitmapCapacityClusters, total - kBitmapCapacityClusters);
  EXPECT_EQ(checked, total);
}

TEST_F(NtfsVolumeTest, RecordsNotInUseAnswerWithTheNearestLowerRecordInUse) {
  NtfsVolumeDataBuffer data{};
  ASSERT_EQ(Volume->GetNtfsVolumeData(VolumeHandle, data), kStatusSuccess);
  int64_t count = data.MftValidDataLength / data.BytesPerFileRecordSegment;
  // The MFT bitmap as the library reads it, for comparison.
  ntfs_volume* direct = ntfs_mount(Image.c_str(), NTFS_MNT_RDONLY);
  ASSERT_NE(direct, nullptr);
  std::vector<uint8_t> inUse(size_t(direct->mftbmp_na->data_size));
  ASSERT_EQ(ntfs_attr_pread(direct->mftbmp_na, 0, s64(inUse.size()), inUse.data()), s64(inUse.size()));
  ntfs_umount(direct, FALSE);

  int64_t lastInUse = -1;
  int unused = 0;
  for (int64_t r = 0; r <= count; ++r) {
    NtfsFileRecordOutputBuffer answer{};
    ASSERT_EQ(Volume->GetNtfsFileRecord(VolumeHandle, r, answer), kStatusSuccess) << r;
    int64_t returned = int64_t(uint64_t(answer.FileReferenceNumber) & kRecordMask);
    bool used = r < count && ((inUse[size_t(r / 8)] >> (r % 8)) & 1);
    if (used) lastInUse = r;
    unused += !used;
    ASSERT_EQ(returned, lastInUse) << "record " << r;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer.FileRecordBuffer), 4), "FILE");
    EXPECT_TRUE(Le16(answer.FileRecordBuffer + kFileRecordFlagsOffset) & kFileRecordInUse);
    EXPECT_EQ(uint64_t(answer.FileReferenceNumber) >> 48,
              Le16(answer.FileRecordBuffer + kFileRecordSequenceOffset));
  }
  // The fixture's filling left hundreds of deleted records.
  EXPECT_GT(unused, 500);
}

TEST_F(NtfsVolumeTest, OpenByIdChecksUseAndSequenceNumber) {
  int64_t record = RecordOf(Image, "/docs/fragmented-a.bin");
  ASSERT_GT(record, 0);
  NtfsFileRecordOutputBuffer answer{};
  ASSERT_EQ(Volume->GetNtfsFileRecord(VolumeHandle, record, answer), kStatusSuccess);
  uint64_t sequence = Le16(answer.FileRecordBuffer + kFileRecordSequenceOffset);
  Handle handle = 0;
  ASSERT_EQ(Volume->OpenFileById(VolumeHandle, uint64_t(record) | (sequence << 48), handle), kStatusSuccess);
  EXPECT_NE(handle, 0);
  // The library forbids two inodes of one record; a second open shares it.
  Handle second = 0;
  ASSERT_EQ(Volume->OpenFileById(VolumeHandle, uint64_t(record) | (sequence << 48), second), kStatusSuccess);
  Volume->CloseHandle(handle);
  FileInformation info;
  EXPECT_TRUE(Volume->GetFileInformationByHandle(second, info));
  Volume->CloseHandle(second);

  Handle refused = 7;
  EXPECT_EQ(Volume->OpenFileById(VolumeHandle, uint64_t(record) | ((sequence + 1) << 48), refused),
            kStatusInvalidParameter);
  EXPECT_EQ(refused, 0);
  // A deleted record of the filling, and a record past the MFT.
  int64_t deleted = 0;
  for (int64_t r = 100; r < 2000 && !deleted; ++r) {
    NtfsFileRecordOutputBuffer probe{};
    Volume->GetNtfsFileRecord(VolumeHandle, r, probe);
    if (int64_t(uint64_t(probe.FileReferenceNumber) & kRecordMask) != r) deleted = r;
  }
  ASSERT_GT(deleted, 0);
  EXPECT_NE(Volume->OpenFileById(VolumeHandle, uint64_t(deleted) | (uint64_t(1) << 48), refused), kStatusSuccess);
  EXPECT_NE(Volume->OpenFileById(VolumeHandle, uint64_t(1) << 40, refused), kStatusSuccess);
  EXPECT_EQ(Volume->OpenFileById(12345, uint64_t(record), refused), kStatusInvalidHandle);
}

TEST_F(NtfsVolumeTest, NamesArePathsFromTheRootWithinTheLengthLimit) {
  int checked = 0;
  for (const ManifestEntry& entry : Manifest) {
    int64_t record = RecordOf(Image, entry.Path);
    ASSERT_GT(record, 0) << entry.Path;
    Handle handle = OpenRecord(record);
    ASSERT_NE(handle, kInvalidHandle) << entry.Path;
    FileNameInformation name{};
    NtStatus status = Volume->QueryFileName(handle, name);
    std::u16string expected = WindowsPath(entry.Path);
    EXPECT_EQ(name.FileNameLength, expected.size() * sizeof(char16_t)) << entry.Path;
    if (expected.size() > kFileNameCapacity) {
      EXPECT_EQ(status, kStatusBufferOverflow) << entry.Path;
    } else {
      ASSERT_EQ(status, kStatusSuccess) << entry.Path;
      EXPECT_EQ(std::u16string(name.FileName, name.FileNameLength / 2), expected) << entry.Path;
      ++checked;
    }
    Volume->CloseHandle(handle);
  }
  EXPECT_GE(checked, 10);

  Handle root = OpenRecord(FILE_root);
  FileNameInformation name{};
  ASSERT_EQ(Volume->QueryFileName(root, name), kStatusSuccess);
  EXPECT_EQ(std::u16string(name.FileName, name.FileNameLength / 2), u"\\");
  Volume->CloseHandle(root);
}

TEST_F(NtfsVolumeTest, FileInformationGivesKindSizeAndWriteTime) {
  struct stat made {};
  ASSERT_EQ(stat((FixtureDir() / "volume.img").c_str(), &made), 0);
  for (const ManifestEntry& entry : Manifest) {
    Handle handle = OpenRecord(RecordOf(Image, entry.Path));
    FileInformation info;
    ASSERT_TRUE(Volume->GetFileInformationByHandle(handle, info)) << entry.Path;
    EXPECT_FALSE(info.FileAttributes & kFileAttributeDirectory) << entry.Path;
    EXPECT_EQ(info.FileSize, entry.Size) << entry.Path;
    // Written while the fixture was made.
    int64_t seconds = int64_t((info.LastWriteTime - kFileTimeOfUnixEpoch) / kFileTimeUnitsPerSecond);
    EXPECT_NEAR(double(seconds), double(made.st_mtime), 3600.0) << entry.Path;
    Volume->CloseHandle(handle);
  }
  Handle docs = OpenRecord(RecordOf(Image, "/docs"));
  FileInformation info;
  ASSERT_TRUE(Volume->GetFileInformationByHandle(docs, info));
  EXPECT_TRUE(info.FileAttributes & kFileAttributeDirectory);
  Volume->CloseHandle(docs);
}

TEST_F(NtfsVolumeTest, RetrievalPointersAreTheRunsTheSleuthKitSees) {
  for (const ManifestEntry& entry : Manifest) {
    int64_t record = RecordOf(Image, entry.Path);
    Handle handle = OpenRecord(record);
    std::vector<TskRun> mine;
    int answers = 0;
    NtStatus status = Runs(handle, mine, answers);
    Volume->CloseHandle(handle);
    if (entry.Kind == "empty" || entry.Kind == "resident") {
      // No clusters of its own.
      EXPECT_EQ(status, kStatusEndOfFile) << entry.Path;
      continue;
    }
    ASSERT_EQ(status, kStatusSuccess) << entry.Path;
    // The Sleuth Kit lists runs as stored; joined the same way they match.
    std::vector<TskRun> theirs;
    for (const TskRun& run : TskRuns(Image, record)) {
      if (!theirs.empty() && ((theirs.back().Lcn < 0 && run.Lcn < 0) ||
                              (theirs.back().Lcn >= 0 && theirs.back().Lcn + theirs.back().Length == run.Lcn))) {
        theirs.back().Length += run.Length;
        continue;
      }
      theirs.push_back(run);
    }
    // The Sleuth Kit leaves out a hole at the end of the allocation.
    if (mine.size() == theirs.size() + 1 && mine.back().Lcn < 0) mine.pop_back();
    ASSERT_EQ(mine.size(), theirs.size()) << entry.Path;
    for (size_t i = 0; i < mine.size(); ++i) {
      EXPECT_EQ(mine[i].Lcn, theirs[i].Lcn) << entry.Path << " run " << i;
      EXPECT_EQ(mine[i].Length, theirs[i].Length) << entry.Path << " run " << i;
    }
    if (entry.Path == "/docs/many-pieces.bin") {
      EXPECT_EQ(answers, 2); // 600 runs: 511, then the rest
    }
    if (entry.Kind == "sparse" || entry.Kind == "compressed") {
      EXPECT_TRUE(std::any_of(mine.begin(), mine.end(), [](const TskRun& run) { return run.Lcn < 0; }));
    }
  }
}

TEST_F(NtfsVolumeTest, AnAnswerStartsWithTheRunHoldingTheVcnAskedFor) {
  Handle handle = OpenRecord(RecordOf(Image, "/docs/many-pieces.bin"));
  auto buffer = std::make_unique<RetrievalPointersBuffer>();
  IoStatusBlock iosb;
  ASSERT_EQ(Volume->GetRetrievalPointers(handle, 550, *buffer, iosb), kStatusSuccess);
  EXPECT_LE(buffer->StartingVcn, 550);
  EXPECT_GT(buffer->Extents[0].NextVcn, 550);
  EXPECT_EQ(buffer->Extents[buffer->ExtentCount - 1].NextVcn, 600);
  EXPECT_EQ(Volume->GetRetrievalPointers(handle, 600, *buffer, iosb), kStatusEndOfFile);
  Volume->CloseHandle(handle);
}

TEST_F(NtfsVolumeTest, PathsOpenAndListLikeWindows) {
  EXPECT_EQ(Volume->GetFileAttributes("C:\\docs") & kFileAttributeDirectory, kFileAttributeDirectory);
  EXPECT_EQ(Volume->GetFileAttributes("C:\\docs\\missing.txt"), kInvalidFileAttributes);
  EXPECT_EQ(Volume->GetFileAttributes("D:\\docs"), kInvalidFileAttributes);
  // A directory opens only with backup semantics.
  EXPECT_EQ(Volume->CreateFile("C:\\docs", kGenericRead, kFileShareRead, 0), kInvalidHandle);
  Handle docs = Volume->CreateFile("C:\\docs", kGenericRead, kFileShareRead, kFileFlagBackupSemantics);
  EXPECT_NE(docs, kInvalidHandle);
  Volume->CloseHandle(docs);

  Handle file = Volume->CreateFile("C:\\docs\\readme.txt", kGenericRead, kFileShareRead, 0);
  ASSERT_NE(file, kInvalidHandle);
  FileInformation info;
  ASSERT_TRUE(Volume->GetFileInformationByHandle(file, info));
  EXPECT_EQ(info.FileSize, 20000u);
  Volume->CloseHandle(file);

  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(Volume->ListDirectory("C:\\docs\\*.*", entries));
  std::map<std::u16string, uint32_t> byName;
  for (const DirectoryEntry& entry : entries) byName[entry.Name] = entry.FileAttributes;
  EXPECT_EQ(byName.size(), entries.size()); // no DOS twins
  EXPECT_TRUE(byName.count(u"."));
  EXPECT_TRUE(byName.count(u"readme.txt"));
  EXPECT_TRUE(byName[u"nested"] & kFileAttributeDirectory);
  EXPECT_FALSE(byName[u"readme.txt"] & kFileAttributeDirectory);

  ASSERT_TRUE(Volume->ListDirectory("C:\\*.*", entries));
  std::set<std::u16string> root;
  for (const DirectoryEntry& entry : entries) root.insert(entry.Name);
  EXPECT_TRUE(root.count(u"Ünïcødé ✓ folder"));
  EXPECT_FALSE(root.count(u"$MFT"));
  EXPECT_FALSE(root.count(u"."));
  EXPECT_FALSE(Volume->ListDirectory("C:\\docs\\readme.txt\\*.*", entries));
}

// Named streams: listed with their sizes, opened by name relative to their
// file, and answered like a file's own data (runs, size, name).
TEST_F(NtfsVolumeTest, NamedStreamsAreListedAndOpenedByName) {
  Volume.reset();
  Image = CopyFixtureImage(Dir.Path(), kStreamsImageName);
  std::string why;
  Volume = OpenVolume(Image, Dir.Path() / "journal", why);
  ASSERT_TRUE(Volume) << why;
  VolumeHandle = Volume->OpenVolume("\\\\.\\C:");
  int64_t record = RecordOf(Image, "/streamed.bin");
  Handle file = OpenRecord(record);
  ASSERT_NE(file, kInvalidHandle);

  std::vector<StreamInformation> streams;
  ASSERT_EQ(Volume->QueryStreams(file, streams), kStatusSuccess);
  std::map<std::u16string, StreamInformation> byName;
  for (const StreamInformation& stream : streams) byName[stream.Name] = stream;
  ASSERT_EQ(byName.size(), 2u);
  EXPECT_EQ(byName[u"Zone.Identifier"].Size, 26u);
  EXPECT_EQ(byName[u"Zone.Identifier"].AllocationSize, 0u);
  EXPECT_EQ(byName[u"payload"].Size, 60000u);
  EXPECT_GE(byName[u"payload"].AllocationSize, 60000u);

  Handle payload = kInvalidHandle;
  ASSERT_EQ(Volume->OpenStream(file, u"payload", payload), kStatusSuccess);
  std::vector<TskRun> runs;
  int answers = 0;
  ASSERT_EQ(Runs(payload, runs, answers), kStatusSuccess);
  std::vector<TskRun> seen = TskRuns(Image, record, "payload");
  ASSERT_EQ(runs.size(), seen.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].Lcn, seen[i].Lcn) << i;
    EXPECT_EQ(runs[i].Length, seen[i].Length) << i;
  }
  FileInformation information;
  ASSERT_TRUE(Volume->GetFileInformationByHandle(payload, information));
  EXPECT_EQ(information.FileSize, 60000u);
  FileNameInformation name{};
  ASSERT_EQ(Volume->QueryFileName(payload, name), kStatusSuccess);
  EXPECT_EQ(std::u16string(name.FileName, name.FileNameLength / 2), u"\\streamed.bin:payload");
  // The file's own handle still answers for its own data.
  ASSERT_TRUE(Volume->GetFileInformationByHandle(file, information));
  EXPECT_EQ(information.FileSize, 40000u);

  struct Refusal {
    Handle From;
    std::u16string Name;
    NtStatus Status;
  };
  for (const Refusal& refusal : {Refusal{file, u"", kStatusInvalidParameter},
                                 Refusal{file, u"pay:load", kStatusInvalidParameter},
                                 Refusal{file, u"..\\payload", kStatusInvalidParameter},
                                 Refusal{file, std::u16string(256, u'n'), kStatusInvalidParameter},
                                 Refusal{file, u"missing", kStatusObjectNameNotFound},
                                 Refusal{payload, u"payload", kStatusInvalidParameter},
                                 Refusal{VolumeHandle, u"payload", kStatusInvalidHandle}}) {
    Handle refused = 0;
    EXPECT_EQ(Volume->OpenStream(refusal.From, refusal.Name, refused), refusal.Status);
    EXPECT_EQ(refused, kInvalidHandle);
  }
  EXPECT_EQ(Volume->QueryStreams(payload, streams), kStatusInvalidParameter);
  EXPECT_EQ(Volume->QueryStreams(VolumeHandle, streams), kStatusInvalidHandle);
  // A file without streams (the root) lists none.
  Handle root = OpenRecord(5);
  ASSERT_EQ(Volume->QueryStreams(root, streams), kStatusSuccess);
  EXPECT_TRUE(streams.empty());
  for (Handle handle : {root, payload, file}) Volume->CloseHandle(handle);
}

TEST_F(NtfsVolumeTest, AnAnalysisWritesNothing) {
  Volume.reset();
  std::string before = ImageDigest(Image);
  std::string why;
  Volume = OpenVolume(Image, Dir.Path() / "journal", why);
  ASSERT_TRUE(Volume) << why;
  VolumeHandle = Volume->OpenVolume("\\\\.\\C:");
  NtfsVolumeDataBuffer data{};
  ASSERT_EQ(Volume->GetNtfsVolumeData(VolumeHandle, data), kStatusSuccess);
  int64_t count = data.MftValidDataLength / data.BytesPerFileRecordSegment;
  int opened = 0;
  for (int64_t r = 1; r <= count; ++r) {
    Handle handle = OpenRecord(r);
    if (handle == kInvalidHandle) continue;
    ++opened;
    FileInformation info;
    Volume->GetFileInformationByHandle(handle, info);
    std::vector<TskRun> runs;
    int answers = 0;
    Runs(handle, runs, answers);
    FileNameInformation name{};
    Volume->QueryFileName(handle, name);
    Volume->CloseHandle(handle);
  }
  EXPECT_GT(opened, 40);
  std::vector<DirectoryEntry> entries;
  Volume->ListDirectory("C:\\docs\\*.*", entries);
  Volume->EndWriteSession();
  Volume.reset();
  EXPECT_EQ(ImageDigest(Image), before);
  EXPECT_FALSE(std::filesystem::exists(Dir.Path() / "journal"));
}

// The records that opening reads answer the analysis, as far as the memory
// set aside for them goes; the others are read again. Either way an answer
// is the record as libntfs-3g reads it, up to the end of its attributes.
class NtfsRecordAnswers : public ::testing::TestWithParam<size_t> {};

TEST_P(NtfsRecordAnswers, AreTheRecordsAsTheLibraryReadsThem) {
  TempDir dir;
  std::filesystem::path image = CopyFixtureImage(dir.Path());
  ntfs_volume* direct = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  ASSERT_NE(direct, nullptr);
  int64_t count = direct->mft_na->initialized_size >> direct->mft_record_size_bits;
  size_t recordBytes = direct->mft_record_size;
  std::vector<uint8_t> records(size_t(count) * recordBytes);
  std::vector<uint8_t> inUse(size_t(direct->mftbmp_na->data_size));
  bool read = ntfs_mft_records_read(direct, 0, count, reinterpret_cast<MFT_RECORD*>(records.data())) == 0 &&
              ntfs_attr_pread(direct->mftbmp_na, 0, s64(inUse.size()), inUse.data()) == s64(inUse.size());
  ntfs_umount(direct, FALSE);
  ASSERT_TRUE(read);

  NtfsVolumeOptions options;
  options.DeviceName = image.string();
  std::string why;
  options.Storage = ImageFile::Open(image, StorageMode::ReadWrite, why);
  options.JournalFolder = dir.Path() / "journal";
  options.KeptRecordBytes = GetParam();
  std::shared_ptr<NtfsVolume> volume = NtfsVolume::Open(std::move(options), why);
  ASSERT_TRUE(volume) << why;
  Handle handle = volume->OpenVolume("\\\\.\\C:");
  int compared = 0;
  for (int64_t r = 0; r < count; ++r) {
    const uint8_t* record = records.data() + size_t(r) * recordBytes;
    const auto* header = reinterpret_cast<const MFT_RECORD*>(record);
    if (!((inUse[size_t(r / 8)] >> (r % 8)) & 1) || !ntfs_is_file_record(header->magic) ||
        !(header->flags & MFT_RECORD_IN_USE))
      continue;
    NtfsFileRecordOutputBuffer answer{};
    ASSERT_EQ(volume->GetNtfsFileRecord(handle, r, answer), kStatusSuccess) << r;
    ASSERT_EQ(int64_t(uint64_t(answer.FileReferenceNumber) & kRecordMask), r);
    size_t length = std::min<size_t>(le32_to_cpu(header->bytes_in_use), sizeof(answer.FileRecordBuffer));
    ASSERT_EQ(std::memcmp(answer.FileRecordBuffer, record, length), 0) << "record " << r;
    ASSERT_TRUE(std::all_of(answer.FileRecordBuffer + length, std::end(answer.FileRecordBuffer),
                            [](uint8_t byte) { return byte == 0; }))
        << "record " << r;
    ++compared;
  }
  EXPECT_GT(compared, 40);
}

INSTANTIATE_TEST_SUITE_P(KeptBytes, NtfsRecordAnswers,
                         ::testing::Values(KeptRecords::kDefaultBound, size_t(16) << 10, size_t(0)),
                         [](const auto& info) {
                           return info.param == KeptRecords::kDefaultBound ? std::string("AllKept")
                                  : info.param == 0                         ? std::string("NoneKept")
                                                                            : std::string("SomeKept");
                         });

} // namespace
} // namespace quillo::test
