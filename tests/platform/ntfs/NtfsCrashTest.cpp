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
#include <fstream>
#include <functional>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "NtfsTestImage.h"
#include "engine/NtfsDefrag.h"
#include "platform/ntfs/ByteOrder.h"
#include "platform/ntfs/Crc32.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/NtfsLibrary.h"
#include "platform/ntfs/RawMftScan.h"
#include "platform/ntfs/VolumeJournalFile.h"

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

// Runs `work` in a child process on a power line cut after `cutAfter`
// writes. The child's exit status: kPowerCutExit when the cut came,
// kFinishedExit when the work ended first; -1 when it did not exit.
int CutRunStatus(int64_t cutAfter, const std::function<void(PowerLine&)>& work) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    PowerLine line;
    line.CutAfter = cutAfter;
    work(line);
    _exit(kFinishedExit);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
    CutRunStatus(k, [&](PowerLine& line) { RunDefrag(image, journal, line, dmFast); });
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
    int status = CutRunStatus(j, [&](PowerLine& line) {
      std::string why;
      OpenVolume(image, journal, why, OpenerOn(line));
    });
    ASSERT_EQ(status, kPowerCutExit) << "recovery cut " << j;
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


// The journal's copy on the volume, by the raw reading recovery makes.
bool FindVolumeJournal(const std::filesystem::path& image, RawMftScan::Found& found) {
  std::string error;
  std::unique_ptr<BlockStorage> storage = ImageFile::Open(image, StorageMode::ReadOnly, error);
  VolumeIdentity identity;
  RawMftScan scan;
  return storage && ReadVolumeIdentity(*storage, identity, error) &&
         scan.Open(*storage, identity, error) && scan.FindRootFile(kVolumeJournalName, found);
}

std::string JournalName() {
  std::string name;
  for (char16_t c : kVolumeJournalName) name += char(c);
  return name;
}

// Whether libntfs-3g finds the journal file by its name in the root: no
// folder ever lists it.
bool ListedInTheRoot(const std::filesystem::path& image) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (!volume) return false;
  std::string path = "/" + JournalName();
  ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, path.c_str());
  if (inode) ntfs_inode_close(inode);
  ntfs_umount(volume, FALSE);
  return inode != nullptr;
}

// Every name The Sleuth Kit finds, deleted ones and files no folder lists
// included.
std::string TskAllNames(const std::filesystem::path& image) {
  return RunCommand({"fls", "-r", "-p", image.string()}).Output;
}

// Sound, clean, every file intact, no journal left on the volume, and the
// names in use and the MFT's bitmap as The Sleuth Kit and libntfs-3g found
// them on the pristine volume (`pristineNames`).
std::string CheckRepaired(const std::filesystem::path& image, const std::vector<ManifestEntry>& manifest,
                          const std::string& pristineNames) {
  std::string files = CompareWithManifest(image, manifest);
  if (!files.empty()) return files;
  std::string resize = CheckWithNtfsResize(image);
  if (!resize.empty()) return resize;
  if (VolumeFlags(image) & 1) return "the volume is still marked dirty";
  RawMftScan::Found found;
  if (FindVolumeJournal(image, found)) return "a journal record is still in use";
  if (ListedInTheRoot(image)) return "the journal file is listed in the root";
  std::string bitmap = MftBitmapDisagreements(image);
  if (!bitmap.empty()) return "the MFT's bitmap: " + bitmap;
  std::string names = TskNamesInUse(image);
  if (names != pristineNames) return "The Sleuth Kit lists other names in use:\n" + names;
  std::string all = TskAllNames(image);
  if (all.find(JournalName()) != std::string::npos)
    return "The Sleuth Kit still finds the journal's name:\n" + all;
  return {};
}

// A power cut, then the next open from another configuration folder, or with
// the folder deleted (a live system started afresh): the journal's copy on
// the volume repairs it. The one state it cannot is the volume marked dirty
// and nothing else changed (the few writes that set and clear the flag
// around the copy's life): refused as not shut down cleanly, which chkdsk
// (here ntfsfix -d) ends, and which the original folder still repairs.
TEST_P(NtfsCrashTest, EveryCutPointRecoversWithoutItsFolder) {
  Cut kind = GetParam().Kind;
  uint8_t mode = GetParam().Mode;
  std::filesystem::path elsewhere = Dir.Path() / "other-home";
  std::filesystem::path aside = Dir.Path() / "aside.img";
  std::string pristineNames = TskNamesInUse(Pristine);
  ASSERT_EQ(MftBitmapDisagreements(Pristine), "");
  Reset();
  PowerLine counting;
  counting.Kind = kind;
  ASSERT_EQ(RunDefrag(Image, Journal, counting, mode), 8);
  int64_t total = counting.Writes;

  std::map<std::string, int> outcomes;
  for (int64_t k = 1; k <= total; ++k) {
    Reset();
    std::filesystem::remove_all(elsewhere);
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
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kPowerCutExit) << "cut " << k;

    // Every other cut: the folder is gone, or another one is used.
    bool folderKept = k % 2 == 0;
    if (!folderKept) std::filesystem::remove_all(Journal);
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(Image, folderKept ? elsewhere : Journal, why);
    // Opened for analysis only, writes refused: not repaired.
    if (volume && volume->GetWriteVerdict().Result == WriteVerdict::Kind::Refused) {
      why = volume->GetWriteVerdict().Reason;
      volume.reset();
    }
    if (volume) {
      ++outcomes[volume->RecoveryNote().empty() ? "nothing to recover" : volume->RecoveryNote()];
      volume.reset();
      ASSERT_EQ(CheckRepaired(Image, Manifest, pristineNames), "") << "cut " << k;
      if (folderKept && std::filesystem::exists(Journal / "51D0C0DE0BADF00D")) {
        // The original folder's journal is out of date now: it asks for
        // nothing, or is refused with nothing written.
        std::string before = ImageDigest(Image);
        volume = OpenVolume(Image, Journal, why);
        if (!volume) {
          EXPECT_NE(why.find("not marked dirty"), std::string::npos) << "cut " << k << ": " << why;
        }
        volume.reset();
        ASSERT_EQ(ImageDigest(Image), before) << "cut " << k;
      }
      continue;
    }
    ++outcomes["refused: marked dirty, nothing else changed"];
    ASSERT_TRUE(why.find("not shut down cleanly") != std::string::npos ||
                why.find("cannot be read") != std::string::npos)
        << "cut " << k << ": " << why;
    std::filesystem::copy_file(Image, aside, std::filesystem::copy_options::overwrite_existing);
    CommandResult fixed = RunCommand({"ntfsfix", "-d", aside.string()});
    ASSERT_EQ(fixed.ExitCode, 0) << "cut " << k << ": " << fixed.Output;
    ASSERT_EQ(CompareWithManifest(aside, Manifest), "") << "cut " << k;
    ASSERT_EQ(CheckWithNtfsResize(aside), "") << "cut " << k;
    RawMftScan::Found found;
    ASSERT_FALSE(FindVolumeJournal(aside, found)) << "cut " << k;
    if (folderKept) {
      volume = OpenVolume(Image, Journal, why);
      ASSERT_TRUE(volume) << "cut " << k << ": " << why;
      volume.reset();
      ASSERT_EQ(CheckRepaired(Image, Manifest, pristineNames), "") << "cut " << k;
    }
  }
  // Only the writes around the dirty flag leave it alone: a handful at the
  // start of the session and at its end.
  EXPECT_LE(outcomes["refused: marked dirty, nothing else changed"], 8);
  std::string summary;
  for (const auto& [note, count] : outcomes) summary += "  " + std::to_string(count) + " x " + note + "\n";
  std::printf("[ cuts     ] %s pass, %s, without the folder: %lld cut points\n%s",
              mode == dmFast ? "fast" : "optimising", CutName(kind), static_cast<long long>(total),
              summary.c_str());
}

// While a session runs, its journal is a hidden system file in clusters of
// its own, named in its record with the root as its parent but listed in no
// folder: the root's index is not touched. A finished session leaves no
// trace of it: record, bitmap bit and clusters free, no name left.
TEST(NtfsVolumeJournal, LivesOnlyAsLongAsTheSession) {
  TempDir dir;
  std::filesystem::path image = CopyFixtureImage(dir.Path());
  std::vector<ManifestEntry> manifest = ReadManifest(FixtureDir());
  uint16_t flagsBefore = VolumeFlags(image);
  std::string rootBefore = RunCommand({"fls", image.string()}).Output;
  std::string namesBefore = TskNamesInUse(image);
  std::string allNamesBefore = TskAllNames(image);
  std::string why;
  std::shared_ptr<NtfsVolume> volume = OpenVolume(image, dir.Path() / "journal", why);
  ASSERT_TRUE(volume) << why;
  Handle handle = volume->OpenVolume("\\\\.\\C:");
  Handle file = volume->CreateFile(kScatteredFile, kGenericRead, kFileShareRead, 0);
  ASSERT_TRUE(MoveWhole(*volume, handle, file, kScatteredClusters));

  RawMftScan::Found found;
  ASSERT_TRUE(FindVolumeJournal(image, found));
  int64_t record = int64_t(found.Record);
  CommandResult shown = RunCommand({"istat", image.string(), std::to_string(record)});
  EXPECT_NE(shown.Output.find("Allocated"), std::string::npos) << shown.Output;
  EXPECT_EQ(shown.Output.find("Not Allocated"), std::string::npos) << shown.Output;
  EXPECT_NE(shown.Output.find("Hidden"), std::string::npos) << shown.Output;
  EXPECT_NE(shown.Output.find("System"), std::string::npos) << shown.Output;
  EXPECT_NE(shown.Output.find(JournalName()), std::string::npos) << shown.Output;
  EXPECT_EQ(VolumeFlags(image) & 1, 1);
  EXPECT_EQ(MftBitmapDisagreements(image), "");
  // -f: the volume is marked dirty while the session runs.
  CommandResult resize = RunCommand({"ntfsresize", "-f", "--info", "--no-action", image.string()});
  EXPECT_TRUE(resize.ExitCode == 0 && resize.Output.find("ERROR") == std::string::npos) << resize.Output;
  EXPECT_FALSE(ListedInTheRoot(image));
  // The Sleuth Kit shows it where its record says, as a file no folder lists
  // (no "*": in use); the rest of the root's listing is as it was.
  std::string rootDuring = RunCommand({"fls", image.string()}).Output;
  std::string shownLine = "-/r " + std::to_string(record) + "-128-";
  size_t at = rootDuring.find(shownLine);
  ASSERT_NE(at, std::string::npos) << rootDuring;
  size_t lineEnd = rootDuring.find('\n', at);
  EXPECT_NE(rootDuring.substr(at, lineEnd - at).find("\t" + JournalName()), std::string::npos) << rootDuring;
  EXPECT_EQ(rootDuring.erase(at, lineEnd + 1 - at), rootBefore);
  // Not reachable by name, and nothing is moved onto it.
  EXPECT_EQ(volume->CreateFile("C:\\" + JournalName(), kGenericRead, kFileShareRead, 0), kInvalidHandle);
  IoStatusBlock iosb;
  constexpr uint64_t kFixtureClusterBytes = 4096;
  int64_t journalLcn = int64_t(found.Extents.front().Offset / kFixtureClusterBytes);
  EXPECT_NE(volume->MoveFile(handle, MoveFileData{file, 0, journalLcn, 1}, iosb), kStatusSuccess);
  volume->CloseHandle(file);
  volume->EndWriteSession();
  for (const std::string& notice : volume->Notices()) ADD_FAILURE() << notice;
  volume.reset();

  EXPECT_EQ(CheckRepaired(image, manifest, namesBefore), "");
  EXPECT_EQ(VolumeFlags(image), flagsBefore);
  EXPECT_EQ(RunCommand({"fls", image.string()}).Output, rootBefore);
  // The record it took is put back as it was: deleted names included, The
  // Sleuth Kit lists what it listed before.
  EXPECT_EQ(TskAllNames(image), allNamesBefore);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "journal" / "51D0C0DE0BADF00D"));
  CommandResult freed = RunCommand({"istat", image.string(), std::to_string(record)});
  EXPECT_NE(freed.Output.find("Not Allocated"), std::string::npos) << freed.Output;
}

// A journal on the volume that does not fit it (a volume changed since the
// cut, a journal written for another volume) is refused with its reason, and
// the image is left byte for byte as it was.
TEST(NtfsVolumeJournal, OneThatDoesNotFitTheVolumeIsRefusedWithoutAWrite) {
  TempDir dir;
  std::filesystem::path pristine = CopyFixtureImage(dir.Path());
  std::filesystem::path image = dir.Path() / "cut.img";
  std::filesystem::path journal = dir.Path() / "journal";
  // A cut halfway through a pass, its folder gone.
  std::filesystem::copy_file(pristine, image);
  PowerLine counting;
  ASSERT_EQ(RunDefrag(image, journal, counting, dmFast), 8);
  std::filesystem::path cut = dir.Path() / "halfway.img";
  {
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove_all(journal);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PowerLine line;
      line.CutAfter = counting.Writes / 2;
      RunDefrag(image, journal, line, dmFast);
      _exit(kFinishedExit);
    }
    waitpid(child, nullptr, 0);
    std::filesystem::remove_all(journal);
    std::filesystem::rename(image, cut);
  }
  RawMftScan::Found found;
  ASSERT_TRUE(FindVolumeJournal(cut, found));
  uint64_t journalAt = found.Extents.front().Offset;

  // Journal layout: SESSION at 0 (32-byte header, serial first in its
  // payload), the update from byte 80 (its first range's offset at 120).
  constexpr uint64_t kSessionPayloadAt = 32;
  constexpr uint64_t kPayloadCrcAt = 24;
  constexpr uint64_t kHeaderCrcAt = 28;
  constexpr uint64_t kSessionPayloadBytes = 48;
  constexpr uint64_t kFirstRangeOffsetAt = 120;
  struct Case {
    const char* Name;
    std::function<void(std::fstream&)> Change;
    const char* Reason;
  };
  std::vector<Case> cases = {
      {"a sector of the update changed since",
       [&](std::fstream& bytes) {
         uint8_t offset[8];
         bytes.seekg(std::streamoff(journalAt + kFirstRangeOffsetAt));
         bytes.read(reinterpret_cast<char*>(offset), sizeof(offset));
         std::vector<char> junk(kSectorBytes, '\x5A');
         bytes.seekp(std::streamoff(LoadLe64(offset)));
         bytes.write(junk.data(), std::streamsize(junk.size()));
       },
       "does not match it"},
      {"a journal written for another volume",
       [&](std::fstream& bytes) {
         std::vector<uint8_t> head(kSessionPayloadAt + kSessionPayloadBytes);
         bytes.seekg(std::streamoff(journalAt));
         bytes.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
         StoreLe64(&head[kSessionPayloadAt], 0x0123456789ABCDEFULL);
         StoreLe32(&head[kPayloadCrcAt], Crc32(&head[kSessionPayloadAt], kSessionPayloadBytes));
         StoreLe32(&head[kHeaderCrcAt], Crc32(head.data(), kHeaderCrcAt));
         bytes.seekp(std::streamoff(journalAt));
         bytes.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
       },
       "serial number"},
  };
  for (const Case& test : cases) {
    std::filesystem::copy_file(cut, image, std::filesystem::copy_options::overwrite_existing);
    {
      std::fstream bytes(image, std::ios::in | std::ios::out | std::ios::binary);
      test.Change(bytes);
    }
    std::string before = ImageDigest(image);
    for (const std::filesystem::path& home : {journal, dir.Path() / "elsewhere"}) {
      std::string why;
      EXPECT_FALSE(OpenVolume(image, home, why)) << test.Name;
      EXPECT_NE(why.find(test.Reason), std::string::npos) << test.Name << ": " << why;
      EXPECT_NE(why.find("Nothing was written"), std::string::npos) << test.Name << ": " << why;
      EXPECT_EQ(ImageDigest(image), before) << test.Name;
    }
  }
}

// A repair made from the journal on the volume, with no configuration
// folder (a live system started afresh), cut at each of its writes; the
// next open, again without the folder, still repairs the volume. The one
// state it cannot repair is the one any pass may leave: the volume marked
// dirty and nothing else changed, refused as not shut down cleanly.
TEST(NtfsCrashDuringRecovery, EveryCutPointOfARecoveryFromTheVolumeRecovers) {
  TempDir dir;
  std::filesystem::path pristine = CopyFixtureImage(dir.Path());
  std::filesystem::path image = dir.Path() / "cut.img";
  std::filesystem::path journal = dir.Path() / "journal";
  std::filesystem::path elsewhere = dir.Path() / "elsewhere";
  std::filesystem::path savedImage = dir.Path() / "saved.img";
  std::vector<ManifestEntry> manifest = ReadManifest(FixtureDir());
  std::string pristineNames = TskNamesInUse(pristine);
  auto copy = [](const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  };

  // The writes of a whole pass, then cuts from the middle on until one
  // leaves a move to roll back from the volume's copy.
  copy(pristine, image);
  PowerLine counting;
  ASSERT_EQ(RunDefrag(image, journal, counting, dmFast), 8);
  int64_t recoveryWrites = 0;
  for (int64_t k = counting.Writes / 2; k < counting.Writes && recoveryWrites == 0; ++k) {
    copy(pristine, image);
    std::filesystem::remove_all(journal);
    CutRunStatus(k, [&](PowerLine& line) { RunDefrag(image, journal, line, dmFast); });
    RawMftScan::Found found;
    if (!FindVolumeJournal(image, found)) continue;
    copy(image, savedImage);
    std::filesystem::remove_all(elsewhere);
    PowerLine recovering;
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(image, elsewhere, why, OpenerOn(recovering));
    ASSERT_TRUE(volume) << why;
    if (volume->RecoveryNote().find("rolled back") != std::string::npos) recoveryWrites = recovering.Writes;
  }
  ASSERT_GT(recoveryWrites, 3);

  std::map<std::string, int> outcomes;
  for (int64_t j = 1; j <= recoveryWrites; ++j) {
    copy(savedImage, image);
    std::filesystem::remove_all(elsewhere);
    int status = CutRunStatus(j, [&](PowerLine& line) {
      std::string why;
      OpenVolume(image, elsewhere, why, OpenerOn(line));
    });
    ASSERT_EQ(status, kPowerCutExit) << "recovery cut " << j;
    // The folder that repair made is gone too.
    std::filesystem::remove_all(elsewhere);
    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(image, elsewhere, why);
    // Opened for analysis only, writes refused: not repaired.
    if (volume && volume->GetWriteVerdict().Result == WriteVerdict::Kind::Refused) {
      why = volume->GetWriteVerdict().Reason;
      volume.reset();
    }
    if (!volume) {
      ASSERT_TRUE(why.find("not shut down cleanly") != std::string::npos ||
                  why.find("cannot be read") != std::string::npos)
          << "recovery cut " << j << ": " << why;
      RawMftScan::Found found;
      ASSERT_FALSE(FindVolumeJournal(image, found)) << "recovery cut " << j;
      // What chkdsk would end (here ntfsfix -d): every file intact.
      std::filesystem::path aside = dir.Path() / "aside.img";
      copy(image, aside);
      CommandResult fixed = RunCommand({"ntfsfix", "-d", aside.string()});
      ASSERT_EQ(fixed.ExitCode, 0) << "recovery cut " << j << ": " << fixed.Output;
      ASSERT_EQ(CompareWithManifest(aside, manifest), "") << "recovery cut " << j;
      ASSERT_EQ(CheckWithNtfsResize(aside), "") << "recovery cut " << j;
      ++outcomes["refused: marked dirty, nothing else changed"];
      continue;
    }
    ++outcomes[volume->RecoveryNote().empty() ? "nothing to recover" : volume->RecoveryNote()];
    volume.reset();
    ASSERT_EQ(CheckRepaired(image, manifest, pristineNames), "") << "recovery cut " << j;
  }
  // Only the writes around the dirty flag at the repair's end leave it alone.
  EXPECT_LE(outcomes["refused: marked dirty, nothing else changed"], 4);
  std::string summary;
  for (const auto& [note, count] : outcomes) summary += "  " + std::to_string(count) + " x " + note + "\n";
  std::printf("[ cuts     ] recovery from the volume: %lld cut points\n%s",
              static_cast<long long>(recoveryWrites), summary.c_str());
}

// A cut, then another tool marks the volume clean without knowing the
// journal (ntfsfix -d): the journal file stays in use, listed nowhere. The
// next pass that writes ends it first, as a folder's journal on a clean
// volume is ended: when its last move is whole or untouched, the pass goes
// on; when that move is half on the volume, the pass is refused with its
// reason and nothing is written.
TEST(NtfsVolumeJournal, ALeftoverOnAVolumeMarkedCleanIsEndedOrRefused) {
  TempDir dir;
  std::filesystem::path pristine = CopyFixtureImage(dir.Path());
  std::filesystem::path image = dir.Path() / "cut.img";
  std::filesystem::path journal = dir.Path() / "journal";
  std::vector<ManifestEntry> manifest = ReadManifest(FixtureDir());
  std::string pristineNames = TskNamesInUse(pristine);
  std::filesystem::copy_file(pristine, image);
  PowerLine counting;
  ASSERT_EQ(RunDefrag(image, journal, counting, dmFast), 8);

  std::map<std::string, int> outcomes;
  for (int64_t k = counting.Writes / 4; k < counting.Writes && outcomes.size() < 2; ++k) {
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
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
    RawMftScan::Found found;
    if (!FindVolumeJournal(image, found)) continue;
    CommandResult fixed = RunCommand({"ntfsfix", "-d", image.string()});
    ASSERT_EQ(fixed.ExitCode, 0) << "cut " << k << ": " << fixed.Output;
    ASSERT_EQ(VolumeFlags(image) & 1, 0) << "cut " << k;
    std::string before = ImageDigest(image);

    std::string why;
    std::shared_ptr<NtfsVolume> volume = OpenVolume(image, dir.Path() / ("home-" + std::to_string(k)), why);
    ASSERT_TRUE(volume) << "cut " << k << ": " << why;
    FakeClock clock;
    InlineDispatcher dispatcher;
    RecordingNotifier notifier;
    {
      TNtfsDefrag engine("C:", volume, EngineServices{clock, dispatcher, notifier});
      engine.State = dsAnalyzing;
      engine.Analyze(dmFast);
      engine.State = dsDefragging;
      engine.Defrag(dmFast);
    }
    WriteVerdict verdict = volume->GetWriteVerdict();
    std::string note = volume->RecoveryNote();
    volume.reset();
    if (verdict.Result == WriteVerdict::Kind::Refused) {
      EXPECT_NE(verdict.Reason.find("no longer marked dirty"), std::string::npos) << "cut " << k << ": " << verdict.Reason;
      EXPECT_NE(verdict.Reason.find("Nothing was written"), std::string::npos) << "cut " << k;
      ASSERT_EQ(ImageDigest(image), before) << "cut " << k;
      ++outcomes["refused"];
      continue;
    }
    ASSERT_EQ(verdict.Result, WriteVerdict::Kind::Sound) << "cut " << k << ": " << verdict.Reason;
    EXPECT_FALSE(note.empty()) << "cut " << k;
    ASSERT_EQ(CheckRepaired(image, manifest, pristineNames), "") << "cut " << k;
    ++outcomes["ended, then the pass"];
  }
  EXPECT_EQ(outcomes.size(), 2u) << "both outcomes are met";
  for (const auto& [outcome, count] : outcomes)
    std::printf("[ cuts     ] leftover on a clean volume: %d x %s\n", count, outcome.c_str());
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
