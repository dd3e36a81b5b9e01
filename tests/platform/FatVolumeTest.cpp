// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a real FAT32 image made by mkfs.fat and mtools: listing, lookup,
// information, retrieval pointers and the bitmap, compared with the
// manifest and with mtools' own view of the chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "FatImageKit.h"
#include "TestSupport.h"
#include "engine/TextCodec.h"
#include "platform/fat/FatVolume.h"

namespace quillo::test {
namespace {

using fat::FatVolume;

std::string WindowsPath(const std::string& relative) {
  std::string path = "C:\\" + relative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  Utf16ToUtf8(text, out);
  return out;
}

class FatVolumeRead : public ::testing::Test {
protected:
  void SetUp() override {
    Image = CopyFixture("small", Dir.Path());
    Expected = ReadManifest(FixtureManifest("small"));
    std::string why;
    Volume = FatVolume::Open("C:", OpenImage(Image, true), why);
    ASSERT_TRUE(Volume) << why;
  }

  // The runs of a file as the retrieval call answers them.
  std::vector<std::pair<int64_t, int64_t>> Runs(const std::string& path) {
    Handle file = Volume->CreateFile(path, kGenericRead, kFileShareRead, kFileFlagBackupSemantics);
    EXPECT_NE(file, kInvalidHandle) << path;
    std::vector<std::pair<int64_t, int64_t>> runs;
    RetrievalPointersBuffer answer{};
    IoStatusBlock iosb;
    int64_t vcn = 0;
    while (true) {
      NtStatus status = Volume->GetRetrievalPointers(file, vcn, answer, iosb);
      if (status != kStatusSuccess && status != kStatusBufferOverflow) break;
      int64_t previous = answer.StartingVcn;
      for (uint32_t i = 0; i < answer.ExtentCount; ++i) {
        runs.push_back({answer.Extents[i].Lcn, answer.Extents[i].NextVcn - previous});
        previous = answer.Extents[i].NextVcn;
      }
      if (status == kStatusSuccess) break;
      vcn = previous;
    }
    Volume->CloseHandle(file);
    return runs;
  }

  TempDir Dir;
  std::filesystem::path Image;
  Manifest Expected;
  std::unique_ptr<FatVolume> Volume;
};

TEST_F(FatVolumeRead, ListsEveryEntryOfTheManifestWithItsLongName) {
  std::set<std::string> seen;
  std::vector<std::string> queue = {""};
  for (size_t i = 0; i < queue.size(); ++i) {
    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(Volume->ListDirectory(WindowsPath(queue[i]) + (queue[i].empty() ? "" : "\\") + "*.*", entries))
        << queue[i];
    bool root = queue[i].empty();
    EXPECT_EQ(!root, entries.size() >= 2 && entries[0].Name == u"." && entries[1].Name == u"..")
        << queue[i];
    for (const DirectoryEntry& entry : entries) {
      if (entry.Name == u"." || entry.Name == u"..") continue;
      std::string path = (root ? "" : queue[i] + "/") + Utf8(entry.Name);
      seen.insert(path);
      if (entry.FileAttributes & kFileAttributeDirectory) queue.push_back(path);
    }
  }
  std::set<std::string> expected(Expected.Directories.begin(), Expected.Directories.end());
  for (const auto& [path, file] : Expected.Files) expected.insert(path);
  EXPECT_EQ(seen, expected);
}

TEST_F(FatVolumeRead, OpensByPathIgnoringCaseAndReportsInformation) {
  struct Case {
    std::string Path;
    uint64_t Size;
    uint32_t Attributes;
  };
  const Case cases[] = {
      {"C:\\readme.txt", 27, kFileAttributeArchive},
      {"c:\\A RATHER LONG FILE NAME WITH SPACES.TXT", 3000, kFileAttributeArchive},
      {"C:\\ünïcödé FAÇADE ✓.txt", 1500, kFileAttributeArchive},
      {"C:\\пример ДОКУМЕНТА.txt", 700, kFileAttributeArchive},
      {"C:\\HIDDEN.SYS", 2100, kFileAttributeArchive | kFileAttributeHidden | kFileAttributeSystem},
      {"C:\\données ÉTÉ\\read-only.txt", 10, kFileAttributeArchive | kFileAttributeReadOnly},
      {"C:\\docs\\reports\\2024\\SUMMARY-2024.TXT", 5000, kFileAttributeArchive},
      {"C:\\empty.txt", 0, kFileAttributeArchive},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Volume->GetFileAttributes(c.Path), c.Attributes) << c.Path;
    Handle file = Volume->CreateFile(c.Path, kGenericRead, kFileShareRead, kFileFlagNoBuffering);
    ASSERT_NE(file, kInvalidHandle) << c.Path;
    FileInformation info;
    ASSERT_TRUE(Volume->GetFileInformationByHandle(file, info));
    EXPECT_EQ(info.FileSize, c.Size) << c.Path;
    EXPECT_EQ(info.FileAttributes, c.Attributes) << c.Path;
    // 2023-11-14 22:13:20 as stored, in 100 ns units since 1601.
    EXPECT_EQ(info.LastWriteTime, 133444736000000000ULL) << c.Path;
    Volume->CloseHandle(file);
  }
  EXPECT_EQ(Volume->GetFileAttributes("C:\\no such file"), kInvalidFileAttributes);
  EXPECT_EQ(Volume->GetFileAttributes("D:\\README.TXT"), kInvalidFileAttributes);
  EXPECT_EQ(Volume->GetFileAttributes("C:\\"), kFileAttributeDirectory);
}

TEST_F(FatVolumeRead, DirectoriesOpenOnlyWithBackupSemantics) {
  EXPECT_EQ(Volume->CreateFile("C:\\Docs", kGenericRead, kFileShareRead, kFileFlagNoBuffering),
            kInvalidHandle);
  Handle dir = Volume->CreateFile("C:\\Docs\\", kGenericRead, kFileShareRead, kFileFlagBackupSemantics);
  ASSERT_NE(dir, kInvalidHandle);
  FileInformation info;
  ASSERT_TRUE(Volume->GetFileInformationByHandle(dir, info));
  EXPECT_EQ(info.FileAttributes, kFileAttributeDirectory);
  EXPECT_EQ(info.FileSize, 0u);
  FileNameInformation name{};
  EXPECT_EQ(Volume->QueryFileName(dir, name), kStatusSuccess);
  EXPECT_EQ(std::u16string(name.FileName, name.FileNameLength / 2), u"\\Docs");
  Volume->CloseHandle(dir);
}

TEST_F(FatVolumeRead, ClosedHandlesStayInvalidWhenTheirPlaceIsReused) {
  Handle first = Volume->CreateFile("C:\\README.TXT", kGenericRead, kFileShareRead, 0);
  ASSERT_NE(first, kInvalidHandle);
  Volume->CloseHandle(first);
  Handle second = Volume->CreateFile("C:\\empty.txt", kGenericRead, kFileShareRead, 0);
  ASSERT_NE(second, kInvalidHandle);
  EXPECT_NE(second, first);
  FileInformation info;
  EXPECT_FALSE(Volume->GetFileInformationByHandle(first, info));
  EXPECT_TRUE(Volume->GetFileInformationByHandle(second, info));
  EXPECT_FALSE(Volume->GetFileInformationByHandle(kInvalidHandle, info));
  Volume->CloseHandle(second);
}

TEST_F(FatVolumeRead, RetrievalPointersFollowTheChainsMtoolsSees) {
  CheckResult mtools = CheckImage(Image, FixtureManifest("small"), true);
  ASSERT_FALSE(Expected.Fragmented.empty());
  for (const std::string& path : Expected.Fragmented) {
    auto runs = Runs(WindowsPath(path));
    EXPECT_EQ(int(runs.size()), mtools.Runs.at(path)) << path;
  }
  // An empty file has no clusters: the call answers end of file.
  Handle empty = Volume->CreateFile("C:\\empty.txt", kGenericRead, kFileShareRead, 0);
  RetrievalPointersBuffer answer{};
  IoStatusBlock iosb;
  EXPECT_EQ(Volume->GetRetrievalPointers(empty, 0, answer, iosb), kStatusEndOfFile);
  Volume->CloseHandle(empty);
}

TEST_F(FatVolumeRead, RetrievalAnswerStartsWithTheRunHoldingTheVcn) {
  const std::string path = "C:\\Frag\\Large\\large_000.bin";
  auto runs = Runs(path);
  // A run after the first one, long enough to ask for its second cluster.
  size_t pick = 1;
  int64_t runStart = runs[0].second;
  while (pick < runs.size() && runs[pick].second < 2) runStart += runs[pick++].second;
  ASSERT_LT(pick, runs.size());
  Handle file = Volume->CreateFile(path, kGenericRead, kFileShareRead, 0);
  RetrievalPointersBuffer answer{};
  IoStatusBlock iosb;
  ASSERT_EQ(Volume->GetRetrievalPointers(file, runStart + 1, answer, iosb), kStatusSuccess);
  EXPECT_EQ(answer.StartingVcn, runStart);
  EXPECT_EQ(answer.Extents[0].Lcn, runs[pick].first);
  EXPECT_EQ(answer.ExtentCount, runs.size() - pick);
  Volume->CloseHandle(file);
}

TEST_F(FatVolumeRead, BitmapAndGeometryAgreeWithTheFat) {
  DiskGeometry geometry;
  ASSERT_TRUE(Volume->GetGeometry("C:\\", geometry));
  EXPECT_EQ(geometry.BytesPerSector, 512u);
  EXPECT_EQ(geometry.SectorsPerCluster, 1u);
  EXPECT_EQ(geometry.TotalNumberOfClusters, Volume->Layout().ClusterCount);
  Handle volume = Volume->OpenVolume("\\\\.\\C:");
  ASSERT_NE(volume, kInvalidHandle);
  auto bitmap = std::make_unique<VolumeBitmapBuffer>();
  IoStatusBlock iosb;
  ASSERT_EQ(Volume->GetVolumeBitmap(volume, 13, *bitmap, iosb), kStatusSuccess);
  EXPECT_EQ(bitmap->StartingLcn, 8);
  EXPECT_EQ(bitmap->BitmapSize, int64_t(geometry.TotalNumberOfClusters) - 8);
  uint32_t used = 8; // LCNs 0-7 are counted below, from a second answer
  for (int64_t k = 0; k < bitmap->BitmapSize; ++k) used += (bitmap->Buffer[k >> 3] >> (k & 7)) & 1;
  ASSERT_EQ(Volume->GetVolumeBitmap(volume, 0, *bitmap, iosb), kStatusSuccess);
  for (int k = 0; k < 8; ++k) used -= 1 - ((bitmap->Buffer[0] >> k) & 1);
  EXPECT_EQ(used, geometry.TotalNumberOfClusters - geometry.NumberOfFreeClusters);
  // LCN 0 is cluster 2, the root directory.
  EXPECT_EQ(bitmap->Buffer[0] & 1, 1);

  DiskFreeSpace space;
  ASSERT_TRUE(Volume->GetFreeSpace("C:\\", space));
  EXPECT_EQ(space.TotalNumberOfFreeBytes, uint64_t(geometry.NumberOfFreeClusters) * 512);
  VolumeInformation info;
  EXPECT_FALSE(Volume->GetVolumeInformation("C:\\", 5, info));
  ASSERT_TRUE(Volume->GetVolumeInformation("C:\\", 10, info));
  EXPECT_EQ(info.FileSystemName, "FAT32");
  EXPECT_EQ(info.VolumeLabel, "QUILLOTEST");
  EXPECT_EQ(info.SerialNumber, 0x1234ABCDu);
  Volume->CloseHandle(volume);
}

TEST_F(FatVolumeRead, NtfsCallsAnswerAFailure) {
  Handle volume = Volume->OpenVolume("\\\\.\\C:");
  NtfsVolumeDataBuffer data{};
  EXPECT_NE(Volume->GetNtfsVolumeData(volume, data), kStatusSuccess);
  auto record = std::make_unique<NtfsFileRecordOutputBuffer>();
  EXPECT_NE(Volume->GetNtfsFileRecord(volume, 0, *record), kStatusSuccess);
  Handle file = 7;
  EXPECT_NE(Volume->OpenFileById(volume, 5, file), kStatusSuccess);
  EXPECT_EQ(file, 0);
  Volume->CloseHandle(volume);
}

} // namespace
} // namespace quillo::test
