// SPDX-License-Identifier: GPL-2.0-or-later
// What a volume's device found reaches the user of the real qdefrag binary:
// on standard error before the report, and in the JSON report. An NTFS image
// whose last run lost its power in the middle of a move is repaired from its
// journal when opened, and the repair is told; damage that a FAT32 volume's
// walk or its check before the first write finds is told by path.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>

#include "FatImageEditor.h"
#include "FatImageKit.h"
#include "TestSupport.h"
#include "ToolRun.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/NtfsVolume.h"

namespace quillo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint64_t kNtfsImageBytes = uint64_t(32) << 20;
constexpr size_t kMovedFileBytes = 256 << 10;
constexpr int kChildFailed = 3;
constexpr int kPowerCutExit = 42;
constexpr const char* kRepairNotice = "An earlier run was interrupted";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The image's storage, counting writes; the write numbered `cutAt` never
// reaches the image and the process ends at once, as on a power cut.
class CuttingStorage final : public BlockStorage {
public:
  CuttingStorage(std::unique_ptr<BlockStorage> inner, int64_t cutAt, int64_t& writes)
      : Inner(std::move(inner)), CutAt(cutAt), Writes(writes) {}
  int64_t ReadAt(uint64_t offset, void* data, size_t length) override {
    return Inner->ReadAt(offset, data, length);
  }
  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    if (++Writes == CutAt) _exit(kPowerCutExit);
    return Inner->WriteAt(offset, data, length);
  }
  bool Sync() override { return Inner->Sync(); }
  bool Resize(uint64_t size) override { return Inner->Resize(size); }
  uint64_t Size() const override { return Inner->Size(); }
  bool Writable() const override { return Inner->Writable(); }

private:
  std::unique_ptr<BlockStorage> Inner;
  int64_t CutAt;
  int64_t& Writes;
};

// The first free run of `length` clusters, or -1.
int64_t FreeRun(NtfsVolume& volume, Handle handle, int64_t length) {
  auto answer = std::make_unique<VolumeBitmapBuffer>();
  int64_t run = 0;
  for (int64_t start = 0;;) {
    IoStatusBlock iosb;
    NtStatus status = volume.GetVolumeBitmap(handle, start, *answer, iosb);
    if (status != kStatusSuccess && status != kStatusBufferOverflow) return -1;
    int64_t count = std::min<int64_t>(answer->BitmapSize, kBitmapCapacityClusters);
    for (int64_t k = 0; k < count; ++k) {
      bool used = (answer->Buffer[k / 8] >> (k % 8)) & 1;
      run = used ? 0 : run + 1;
      if (run == length) return answer->StartingLcn + k - length + 1;
    }
    if (status != kStatusBufferOverflow) return -1;
    start = answer->StartingLcn + count;
  }
}

// In a child process: moves C:\moved.bin to free space through a device
// whose journal lives in `journal`, with the image write `cutAt` cut (0:
// none); the count of image writes goes to `countFile`. The child ends
// without closing anything, as a process that dies does.
int MoveInChild(const fs::path& image, const fs::path& journal, int64_t cutAt,
                const fs::path& countFile) {
  pid_t child = fork();
  if (child == 0) {
    int64_t writes = 0;
    std::string why;
    NtfsVolumeOptions options;
    options.DeviceName = image.string();
    options.JournalFolder = journal;
    std::unique_ptr<BlockStorage> inner = ImageFile::Open(image, StorageMode::ReadWrite, why);
    if (!inner) _exit(kChildFailed);
    options.Storage = std::make_unique<CuttingStorage>(std::move(inner), cutAt, writes);
    std::shared_ptr<NtfsVolume> volume = NtfsVolume::Open(std::move(options), why);
    if (!volume) _exit(kChildFailed);
    Handle handle = volume->OpenVolume("\\\\.\\C:");
    Handle file = volume->CreateFile("C:\\moved.bin", kGenericRead, kFileShareRead, 0);
    DiskGeometry geometry;
    if (file == kInvalidHandle || !volume->GetGeometry("C:\\", geometry)) _exit(kChildFailed);
    int64_t clusterBytes = int64_t(geometry.SectorsPerCluster) * geometry.BytesPerSector;
    int64_t clusters = int64_t(kMovedFileBytes) / clusterBytes;
    int64_t target = FreeRun(*volume, handle, clusters);
    IoStatusBlock iosb;
    MoveFileData data{file, 0, target, uint32_t(clusters)};
    if (target < 0 || volume->MoveFile(handle, data, iosb) != kStatusSuccess) _exit(kChildFailed);
    std::ofstream(countFile) << writes;
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(QdefragNotices, RepairOfAnNtfsVolumeAfterAPowerCutIsTold) {
  TempDir folder;
  fs::path image = folder.Path() / "ntfs.img";
  fs::path content = folder.Path() / "moved.bin";
  {
    std::ofstream(image).close();
    fs::resize_file(image, kNtfsImageBytes);
    std::string bytes(kMovedFileBytes, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + i / 4096);
    std::ofstream(content, std::ios::binary) << bytes;
  }
  ASSERT_EQ(RunProgram("mkntfs", {"-F", "-Q", "-q", "-c", "4096", image.string()}).Exit, 0);
  ASSERT_EQ(RunProgram("ntfscp", {image.string(), content.string(), "/moved.bin"}).Exit, 0);

  // How many image writes a whole move makes, on a copy.
  fs::path counted = folder.Path() / "counted.img";
  fs::copy_file(image, counted);
  fs::path countFile = folder.Path() / "writes";
  ASSERT_EQ(MoveInChild(counted, folder.Path() / "counting-journal", 0, countFile), 0);
  int64_t writes = 0;
  std::ifstream(countFile) >> writes;
  ASSERT_GT(writes, 1);

  // The power goes off before the move's last write.
  fs::path home = folder.Path() / "home";
  fs::create_directories(home);
  ASSERT_EQ(MoveInChild(image, home / "journal", writes, countFile), kPowerCutExit);
  ASSERT_FALSE(fs::is_empty(home / "journal"));

  ToolResult result = RunTool({"analyze", "--json", image.string()}, home);
  ASSERT_EQ(result.Exit, 0) << result.Err;
  json volume = result.Json()["volumes"][0];
  ASSERT_EQ(volume["notices"].size(), 1u) << volume.dump();
  std::string notice = volume["notices"][0];
  EXPECT_TRUE(Contains(notice, kRepairNotice)) << notice;
  EXPECT_TRUE(Contains(result.Err, "qdefrag: " + image.string() + ": " + notice)) << result.Err;
  // Repaired: the journal is gone, the next run has nothing to tell.
  EXPECT_TRUE(fs::is_empty(home / "journal"));
  ToolResult again = RunTool({"analyze", "--json", image.string()}, home);
  ASSERT_EQ(again.Exit, 0) << again.Err;
  EXPECT_TRUE(again.Json()["volumes"][0]["notices"].empty());
  EXPECT_FALSE(Contains(again.Err, kRepairNotice));
}

struct FatFinding {
  const char* Name;
  const char* Command;
  std::function<void(std::vector<uint8_t>&)> Damage;
  const char* Notice; // part of a notice
};

void PrintTo(const FatFinding& finding, std::ostream* out) { *out << finding.Name; }

class QdefragFatNotices : public ::testing::TestWithParam<FatFinding> {};

TEST_P(QdefragFatNotices, FindingsAreToldAndNothingIsWritten) {
  TempDir folder;
  std::vector<uint8_t> bytes = ReadWholeFile(FixtureImage("small"));
  GetParam().Damage(bytes);
  fs::path image = folder.Path() / "fat.img";
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

  ToolResult result = RunTool({GetParam().Command, "--json", image.string()});
  json volume = result.Json()["volumes"][0];
  std::string told;
  for (const json& item : volume["notices"]) {
    std::string notice = item;
    told += notice + "\n";
    EXPECT_TRUE(Contains(result.Err, "qdefrag: " + image.string() + ": " + notice)) << result.Err;
  }
  EXPECT_TRUE(Contains(told, GetParam().Notice)) << told;
  EXPECT_EQ(ReadWholeFile(image), bytes);
}

constexpr const char* kLarge = "Frag/Large/large_000.bin";

INSTANTIATE_TEST_SUITE_P(
    Findings, QdefragFatNotices,
    ::testing::Values(
        // Met by the analysis walk.
        FatFinding{"ChainLoopsInAnalysis", "analyze",
                   [](auto& image) {
                     FatImageEditor editor(image);
                     auto chain = editor.Chain(kLarge);
                     editor.SetFatEntry(chain.back(), chain[1]);
                   },
                   "large_000.bin: its cluster chain loops"},
        // Met by the check before the first write.
        FatFinding{"SharedClustersBeforeTheFirstMove", "defrag",
                   [](auto& image) {
                     FatImageEditor editor(image);
                     editor.SetFirstCluster("Frag/Large/large_001.bin", editor.Chain(kLarge)[3]);
                   },
                   "shares clusters with another file"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace quillo::test
