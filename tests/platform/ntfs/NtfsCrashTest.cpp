// SPDX-License-Identifier: GPL-2.0-or-later
// Power cuts across a whole defragmentation. The volume and the journal are
// written through storage that counts every write; for each k, a child
// process runs the analysis and the pass and loses its power right after the
// k-th write (the process ends on the spot). The next open must recover the
// volume through the journal, after which every file matches the manifest,
// ntfsresize finds the bitmap and the runlists consistent, and the volume is
// clean. Both passes are cut, the fast one in three ways:
//   - ordered: every write issued before the cut reached the disk;
//   - unsynced lost: the writes since the last sync of each file are lost,
//     as a disk cache may lose them, whatever their order;
//   - torn: the k-th write reaches the disk only in part (its first half of
//     sectors).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "NtfsTestImage.h"
#include "engine/NtfsDefrag.h"
#include "platform/ntfs/ImageFile.h"

namespace quillo::test {
namespace {

constexpr int kPowerCutExit = 42;
constexpr int kFinishedExit = 0;
constexpr int kFailedExit = 3;

enum class Cut { Ordered, UnsyncedLost, Torn };

const char* CutName(Cut cut) {
  switch (cut) {
  case Cut::Ordered: return "ordered";
  case Cut::UnsyncedLost: return "unsynced writes lost";
  case Cut::Torn: return "torn write";
  }
  return "";
}

// What all storage of one run shares: the write count and where it ends.
struct PowerLine {
  Cut Kind = Cut::Ordered;
  int64_t CutAfter = -1; // never
  int64_t Writes = 0;
};

class PowerCutStorage final : public BlockStorage {
public:
  PowerCutStorage(std::unique_ptr<BlockStorage> inner, PowerLine& line)
      : Inner(std::move(inner)), Line(line) {}

  int64_t ReadAt(uint64_t offset, void* data, size_t length) override {
    int64_t got = Inner->ReadAt(offset, data, length);
    if (got < 0) return got;
    // Writes not yet synced are seen by their writer.
    uint64_t end = offset + length;
    for (const auto& [at, bytes] : Unsynced) {
      uint64_t from = std::max<uint64_t>(at, offset);
      uint64_t to = std::min<uint64_t>(at + bytes.size(), end);
      if (from >= to) continue;
      std::memcpy(static_cast<uint8_t*>(data) + (from - offset), bytes.data() + (from - at), to - from);
      got = std::max<int64_t>(got, int64_t(to - offset));
    }
    return got;
  }

  bool WriteAt(uint64_t offset, const void* data, size_t length) override {
    bool last = ++Line.Writes == Line.CutAfter;
    const auto* bytes = static_cast<const uint8_t*>(data);
    switch (Line.Kind) {
    case Cut::Ordered:
      if (!Inner->WriteAt(offset, data, length)) return false;
      break;
    case Cut::UnsyncedLost:
      Unsynced.emplace_back(offset, std::vector<uint8_t>(bytes, bytes + length));
      break;
    case Cut::Torn:
      if (last) {
        size_t half = length / kSectorBytes / 2 * kSectorBytes;
        if (half) Inner->WriteAt(offset, data, half);
      } else if (!Inner->WriteAt(offset, data, length)) {
        return false;
      }
      break;
    }
    if (last) _exit(kPowerCutExit);
    return true;
  }

  bool Sync() override {
    for (const auto& [at, bytes] : Unsynced)
      if (!Inner->WriteAt(at, bytes.data(), bytes.size())) return false;
    Unsynced.clear();
    return Inner->Sync();
  }
  bool Resize(uint64_t size) override { return Inner->Resize(size); }
  uint64_t Size() const override {
    uint64_t size = Inner->Size();
    for (const auto& [at, bytes] : Unsynced) size = std::max<uint64_t>(size, at + bytes.size());
    return size;
  }
  bool Writable() const override { return Inner->Writable(); }

private:
  std::unique_ptr<BlockStorage> Inner;
  PowerLine& Line;
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> Unsynced;
};

StorageOpener OpenerOn(PowerLine& line) {
  return [&line](const std::filesystem::path& path, StorageMode mode, std::string& error) -> std::unique_ptr<BlockStorage> {
    std::unique_ptr<BlockStorage> inner = ImageFile::Open(path, mode, error);
    if (!inner) return nullptr;
    return std::make_unique<PowerCutStorage>(std::move(inner), line);
  };
}

// Analysis and pass, as a job runs them; the number of files defragmented.
int RunDefrag(const std::filesystem::path& image, const std::filesystem::path& journal, PowerLine& line,
               uint8_t mode) {
  std::string why;
  std::shared_ptr<NtfsVolume> volume = OpenVolume(image, journal, why, OpenerOn(line));
  if (!volume) return -1;
  FakeClock clock;
  InlineDispatcher dispatcher;
  RecordingNotifier notifier;
  TNtfsDefrag engine("C:", volume, EngineServices{clock, dispatcher, notifier});
  engine.State = dsAnalyzing;
  engine.Analyze(mode);
  engine.State = dsDefragging;
  engine.Defrag(mode);
  return int(engine.Report->DefraggedFileCount.load());
}

struct CrashCase {
  uint8_t Mode;
  Cut Kind;
};

// Moves that make a runlist grow instead of shrink: a file is made whole,
// then every other cluster of it goes to a hole of its own, one move each,
// until its runs overflow its records (attribute list, new extent records,
// the MFT bitmap). `writesAfter` gets the write count after each move. Each
// move is committed on its own, so that each is an update that can be cut.
// Moves the whole file to the first free run that holds it.
bool MoveWhole(NtfsVolume& volume, Handle handle, Handle file, int64_t clusters) {
  auto bitmap = std::make_unique<VolumeBitmapBuffer>();
  IoStatusBlock iosb;
  if (volume.GetVolumeBitmap(handle, 0, *bitmap, iosb) != kStatusSuccess) return false;
  auto used = [&](int64_t lcn) { return (bitmap->Buffer[lcn / 8] >> (lcn % 8)) & 1; };
  int64_t whole = -1;
  for (int64_t k = 0, run = 0; k < bitmap->BitmapSize && whole < 0; ++k) {
    run = used(k) ? 0 : run + 1;
    if (run == clusters) whole = k - clusters + 1;
  }
  return whole >= 0 &&
         volume.MoveFile(handle, MoveFileData{file, 0, whole, uint32_t(clusters)}, iosb) == kStatusSuccess;
}

constexpr int64_t kScatteredClusters = 600;
constexpr const char* kScatteredFile = "C:\\docs\\many-pieces.bin";

bool ScatterMoves(const std::filesystem::path& image, const std::filesystem::path& journal,
                  PowerLine& line, int moves, std::vector<int64_t>* writesAfter = nullptr) {
  std::string why;
  std::shared_ptr<NtfsVolume> volume =
      OpenVolume(image, journal, why, OpenerOn(line), StorageMode::ReadWrite, 1);
  if (!volume) return false;
  Handle handle = volume->OpenVolume("\\\\.\\C:");
  Handle file = volume->CreateFile(kScatteredFile, kGenericRead, kFileShareRead, 0);
  auto bitmap = std::make_unique<VolumeBitmapBuffer>();
  auto used = [&](int64_t lcn) { return (bitmap->Buffer[lcn / 8] >> (lcn % 8)) & 1; };
  IoStatusBlock iosb;
  if (!MoveWhole(*volume, handle, file, kScatteredClusters)) return false;
  // The holes the file left behind.
  if (volume->GetVolumeBitmap(handle, 0, *bitmap, iosb) != kStatusSuccess) return false;
  std::vector<int64_t> holes;
  for (int64_t k = 1; k + 1 < bitmap->BitmapSize; ++k)
    if (!used(k) && used(k - 1) && used(k + 1)) holes.push_back(k);
  if (int64_t(holes.size()) < moves) return false;
  for (int i = 0; i < moves; ++i) {
    if (volume->MoveFile(handle, MoveFileData{file, 2 * i, holes[size_t(i)], 1}, iosb) != kStatusSuccess) return false;
    if (writesAfter) writesAfter->push_back(line.Writes);
  }
  volume->CloseHandle(file);
  volume->EndWriteSession();
  return true;
}

class NtfsCrashTest : public ::testing::TestWithParam<CrashCase> {
protected:
  void SetUp() override {
    Pristine = CopyFixtureImage(Dir.Path());
    Image = Dir.Path() / "cut.img";
    Journal = Dir.Path() / "journal";
    Manifest = ReadManifest(FixtureDir());
  }

  void Reset() {
    std::filesystem::copy_file(Pristine, Image, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove_all(Journal);
  }

  TempDir Dir;
  std::filesystem::path Pristine;
  std::filesystem::path Image;
  std::filesystem::path Journal;
  std::vector<ManifestEntry> Manifest;
};

TEST_P(NtfsCrashTest, EveryCutPointOfADefragmentationRecovers) {
  Cut kind = GetParam().Kind;
  uint8_t mode = GetParam().Mode;
  // The whole run once, to count its writes.
  Reset();
  PowerLine counting;
  counting.Kind = kind;
  int defragmented = RunDefrag(Image, Journal, counting, mode);
  // Every fragmented file of the fixture, and the sparse one.
  ASSERT_EQ(defragmented, 8);
  int64_t total = counting.Writes;
  ASSERT_GT(total, 20);

  std::map<std::string, int> outcomes;
  for (int64_t k = 1; k <= total; ++k) {
    Reset();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PowerLine line;
      line.Kind = kind;
      line.CutAfter = k;
      _exit(RunDefrag(Image, Journal, line, mode) >= 0 ? kFinishedExit : kFailedExit);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kPowerCutExit)
        << "cut " << k << " of " << total << ": the run did not reach its cut";

    // The next open recovers; afterwards the volume is sound and clean.
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(Image, Journal, why);
    ASSERT_TRUE(volume) << "cut " << k << ": " << why;
    ++outcomes[volume->RecoveryNote().empty() ? "nothing to recover" : volume->RecoveryNote()];
    volume.reset();
    ASSERT_EQ(CompareWithManifest(Image, Manifest), "") << "cut " << k;
    ASSERT_EQ(CheckWithNtfsResize(Image), "") << "cut " << k;
    ASSERT_EQ(VolumeFlags(Image) & 1, 0) << "cut " << k;
    ASSERT_FALSE(std::filesystem::exists(Journal / "51D0C0DE0BADF00D")) << "cut " << k;
  }
  // After a recovery halfway, a new run defragments everything.
  Reset();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PowerLine line;
    line.Kind = kind;
    line.CutAfter = total / 2;
    RunDefrag(Image, Journal, line, mode);
    _exit(kFinishedExit);
  }
  waitpid(child, nullptr, 0);
  PowerLine free;
  EXPECT_GT(RunDefrag(Image, Journal, free, mode), 0);
  EXPECT_EQ(CompareWithManifest(Image, Manifest), "");
  EXPECT_EQ(CheckWithNtfsResize(Image), "");
  for (const ManifestEntry& entry : Manifest) {
    if (entry.Kind == "fragmented") {
      EXPECT_EQ(TskFragments(TskRuns(Image, RecordOf(Image, entry.Path))), 1) << entry.Path;
    }
  }

  std::string summary;
  for (const auto& [note, count] : outcomes) summary += "  " + std::to_string(count) + " x " + note + "\n";
  std::printf("[ cuts     ] %s pass, %s: %lld cut points\n%s", mode == dmFast ? "fast" : "optimising",
              CutName(kind), static_cast<long long>(total), summary.c_str());
  RecordProperty("CutPoints", int(total));
}

TEST(NtfsGrowingRunlists, AFileScatteredMoveByMoveOverflowsItsRecordsSoundly) {
  TempDir dir;
  std::filesystem::path image = CopyFixtureImage(dir.Path());
  std::vector<ManifestEntry> manifest = ReadManifest(FixtureDir());
  PowerLine line;
  ASSERT_TRUE(ScatterMoves(image, dir.Path() / "journal", line, 200));
  EXPECT_EQ(CompareWithManifest(image, manifest), "");
  EXPECT_EQ(CheckWithNtfsResize(image), "");
  int64_t record = RecordOf(image, "/docs/many-pieces.bin");
  // 200 clusters on their own, and the 200 pieces between them.
  EXPECT_EQ(TskFragments(TskRuns(image, record)), 400);
  CommandResult shown = RunCommand({"istat", image.string(), std::to_string(record)});
  EXPECT_NE(shown.Output.find("$ATTRIBUTE_LIST"), std::string::npos);

  // Joined again in one move, whose pieces lie one cluster apart on the old
  // side between the scattered ones and are read in spans.
  {
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(image, dir.Path() / "journal", why);
    ASSERT_NE(volume, nullptr) << why;
    Handle handle = volume->OpenVolume("\\\\.\\C:");
    Handle file = volume->CreateFile(kScatteredFile, kGenericRead, kFileShareRead, 0);
    ASSERT_TRUE(MoveWhole(*volume, handle, file, kScatteredClusters));
    volume->CloseHandle(file);
    volume->EndWriteSession();
  }
  EXPECT_EQ(CompareWithManifest(image, manifest), "");
  EXPECT_EQ(CheckWithNtfsResize(image), "");
  EXPECT_EQ(TskFragments(TskRuns(image, record)), 1);
}

// Power cuts at every write of the moves where the runlist outgrows its
// records: each of those updates allocates an extent record and changes
// the attribute list and the MFT bitmap along with the runs.
TEST(NtfsGrowingRunlists, EveryCutPointWhereARecordOverflowsRecovers) {
  TempDir dir;
  std::filesystem::path pristine = CopyFixtureImage(dir.Path());
  std::filesystem::path image = dir.Path() / "cut.img";
  std::filesystem::path journal = dir.Path() / "journal";
  std::vector<ManifestEntry> manifest = ReadManifest(FixtureDir());
  auto reset = [&] {
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove_all(journal);
  };
  constexpr int kMoves = 200;
  reset();
  std::vector<int64_t> writes;
  PowerLine counting;
  ASSERT_TRUE(ScatterMoves(image, journal, counting, kMoves, &writes));
  // The moves that take more writes than their neighbours add a record.
  std::vector<int64_t> cuts;
  for (size_t i = 2; i < writes.size(); ++i) {
    if (writes[i] - writes[i - 1] <= writes[i - 1] - writes[i - 2]) continue;
    for (int64_t k = writes[i - 1] + 1; k <= writes[i]; ++k) cuts.push_back(k);
  }
  ASSERT_GE(cuts.size(), 10u);

  for (int64_t k : cuts) {
    reset();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PowerLine line;
      line.CutAfter = k;
      ScatterMoves(image, journal, line, kMoves);
      _exit(kFinishedExit);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kPowerCutExit) << "cut " << k;
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(image, journal, why);
    ASSERT_TRUE(volume) << "cut " << k << ": " << why;
    volume.reset();
    ASSERT_EQ(CompareWithManifest(image, manifest), "") << "cut " << k;
    ASSERT_EQ(CheckWithNtfsResize(image), "") << "cut " << k;
    ASSERT_EQ(VolumeFlags(image) & 1, 0) << "cut " << k;
  }
  std::printf("[ cuts     ] records overflowing: %zu cut points\n", cuts.size());
}

// A power cut while the next open recovers: recovery itself is interrupted
// at each of its writes, and the open after that still recovers.
TEST(NtfsCrashDuringRecovery, EveryCutPointOfARecoveryRecovers) {
  TempDir dir;
  std::filesystem::path pristine = CopyFixtureImage(dir.Path());
  std::filesystem::path image = dir.Path() / "cut.img";
  std::filesystem::path journal = dir.Path() / "journal";
  std::filesystem::path savedImage = dir.Path() / "saved.img";
  std::filesystem::path savedJournal = dir.Path() / "saved-journal";
  std::vector<ManifestEntry> manifest = ReadManifest(FixtureDir());
  auto copy = [](const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::remove_all(to);
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
  };

  // The writes of a whole pass, then cuts from the middle on until one
  // leaves a move to roll back.
  copy(pristine, image);
  PowerLine counting;
  ASSERT_EQ(RunDefrag(image, journal, counting, dmFast), 8);
  int64_t recoveryWrites = 0;
  for (int64_t k = counting.Writes / 2; k < counting.Writes && recoveryWrites == 0; ++k) {
    copy(pristine, image);
    std::filesystem::remove_all(journal);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PowerLine line;
      line.CutAfter = k;
      RunDefrag(image, journal, line, dmFast);
      _exit(kFinishedExit);
    }
    waitpid(child, nullptr, 0);
    copy(image, savedImage);
    copy(journal, savedJournal);
    PowerLine recovering;
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(image, journal, why, OpenerOn(recovering));
    ASSERT_TRUE(volume) << why;
    if (volume->RecoveryNote().find("rolled back") != std::string::npos) recoveryWrites = recovering.Writes;
  }
  ASSERT_GT(recoveryWrites, 3);

  for (int64_t j = 1; j <= recoveryWrites; ++j) {
    copy(savedImage, image);
    copy(savedJournal, journal);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PowerLine line;
      line.CutAfter = j;
      std::string why;
      OpenVolume(image, journal, why, OpenerOn(line));
      _exit(kFinishedExit);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kPowerCutExit) << "recovery cut " << j;
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(image, journal, why);
    ASSERT_TRUE(volume) << "recovery cut " << j << ": " << why;
    volume.reset();
    ASSERT_EQ(CompareWithManifest(image, manifest), "") << "recovery cut " << j;
    ASSERT_EQ(CheckWithNtfsResize(image), "") << "recovery cut " << j;
    ASSERT_EQ(VolumeFlags(image) & 1, 0) << "recovery cut " << j;
  }
  std::printf("[ cuts     ] recovery: %lld cut points\n", static_cast<long long>(recoveryWrites));
}

INSTANTIATE_TEST_SUITE_P(Cuts, NtfsCrashTest,
                         ::testing::Values(CrashCase{dmFast, Cut::Ordered}, CrashCase{dmFast, Cut::UnsyncedLost},
                                           CrashCase{dmFast, Cut::Torn}, CrashCase{dmOptimize, Cut::Ordered}),
                         [](const auto& info) {
                           std::string name = info.param.Mode == dmFast ? "Fast" : "Optimize";
                           switch (info.param.Kind) {
                           case Cut::Ordered: return name + "Ordered";
                           case Cut::UnsyncedLost: return name + "UnsyncedLost";
                           case Cut::Torn: return name + "Torn";
                           }
                           return name;
                         });

} // namespace
} // namespace quillo::test
