// SPDX-License-Identifier: GPL-2.0-or-later
// Analysis and both passes on in-memory volumes of 10,000, 100,000 and
// 1,000,000 files, on both walks, without a window (inline dispatcher).
// Each configuration runs in a child process of its own, so that its peak
// memory is its own.
//
//   quillo_engine_bench [--max FILES] [--fragmented PERCENT] [--gap-percent PERCENT]
//                       [--gap-max CLUSTERS] [--pass-seconds SECONDS]
//
// Prints, per configuration: files per second of the analysis, the ratio of
// the analysis time to a bare enumeration of the same volume (listing and
// extents, no engine), clusters moved per second by the pass, the memory the
// volume itself takes, and the peak memory of the whole run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/DateTime.h"
#include "engine/FatDefrag.h"
#include "engine/MemoryVolume.h"
#include "engine/NtfsDefrag.h"
#include "engine/TextCodec.h"

namespace quillo {
namespace {

constexpr uint32_t kFilesPerDirectory = 100;
constexpr uint32_t kMaxFileClusters = 16;
struct BenchOptions {
  uint32_t MaxFiles = 1000000;
  uint32_t FragmentedPercent = 10;
  uint32_t GapPercent = 25;   // share of pieces followed by free clusters
  uint32_t MaxGapClusters = 16;
  double PassSeconds = 120;   // a longer pass is stopped, as a user would
  std::string OnlyFs;         // "fat" or "ntfs": that walk only
  std::string OnlyMode;       // "fast" or "optimize": that mode only
};
constexpr uint32_t kPieceShuffleWindow = 1000;
constexpr uint32_t kRecordBytes = 1024;
constexpr uint32_t kMftUnitBytes = 4096;
constexpr double kBaseTime = 46000.5;

// A clock that never sleeps; the engine is timed, not its waits.
class BenchClock final : public Clock {
public:
  TDateTime Now() override { return kBaseTime; }
  void Sleep(uint32_t) override {}
};

class SilentNotifier final : public UserNotifier {
public:
  void ShowMessage(const std::string&, const std::string&) override {}
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct Piece {
  uint32_t File;
  uint32_t Index;
  uint32_t Length;
};

// Files of 1 to 16 clusters in directories of 100, the given share of them
// in 2 to 4 pieces that lie apart, a quarter of the gaps between pieces
// free. Directories hold one cluster each. NTFS volumes keep the MFT first.
std::shared_ptr<MemoryVolume> BuildVolume(bool ntfs, uint32_t files, const BenchOptions& options,
                                          uint32_t& entries) {
  uint32_t fragmentedPercent = options.FragmentedPercent;
  std::mt19937 random(files * 7 + fragmentedPercent);
  auto pick = [&](uint32_t low, uint32_t high) { return low + random() % (high - low + 1); };
  uint32_t directories = std::max<uint32_t>(1, files / kFilesPerDirectory);
  entries = files + directories;

  std::vector<std::vector<uint32_t>> sizes(files);
  std::vector<Piece> pieces;
  for (uint32_t f = 0; f < files; ++f) {
    uint32_t clusters = pick(1, kMaxFileClusters);
    uint32_t count = clusters > 1 && pick(1, 100) <= fragmentedPercent ? pick(2, std::min(4u, clusters)) : 1;
    uint32_t left = clusters;
    for (uint32_t p = 0; p < count; ++p) {
      uint32_t length = p + 1 == count ? left : std::max(1u, left / (count - p));
      left -= length;
      pieces.push_back({f, p, length});
    }
  }
  // Later pieces of a file move some way along the volume.
  for (size_t i = 0; i < pieces.size(); ++i)
    if (pieces[i].Index > 0) {
      size_t to = std::min(pieces.size() - 1, i + pick(1, kPieceShuffleWindow));
      std::swap(pieces[i], pieces[to]);
    }

  uint32_t mftClusters = ntfs ? (entries + 1) * kRecordBytes / kMftUnitBytes + 1 : 2;
  uint64_t lcn = mftClusters + directories;
  std::vector<std::vector<MemoryRun>> runs(files);
  std::vector<std::vector<std::pair<uint32_t, MemoryRun>>> ordered(files);
  for (const Piece& piece : pieces) {
    if (pick(1, 100) <= options.GapPercent) lcn += pick(1, options.MaxGapClusters);
    ordered[piece.File].push_back({piece.Index, {int64_t(lcn), piece.Length}});
    lcn += piece.Length;
  }
  uint64_t total = lcn + lcn / 10;

  MemoryVolume::Options volumeOptions;
  volumeOptions.FileSystemName = ntfs ? "NTFS" : "FAT32";
  volumeOptions.TotalClusters = uint32_t(total);
  auto volume = std::make_shared<MemoryVolume>(volumeOptions);
  volume->Reserve(0, mftClusters);
  if (ntfs)
    volume->SetNtfsLayout(0, 0, mftClusters, int64_t(entries + 1) * kRecordBytes);

  std::vector<uint32_t> dirIndex(directories);
  for (uint32_t d = 0; d < directories; ++d) {
    dirIndex[d] = volume->AddDirectory(MemoryVolume::kRootIndex, "d" + std::to_string(d));
    volume->SetRuns(dirIndex[d], {{int64_t(mftClusters + d), 1}});
  }
  uint64_t oldWrite = DateTimeToFileTime(kBaseTime - 100);
  uint64_t recentWrite = DateTimeToFileTime(kBaseTime - 10);
  for (uint32_t f = 0; f < files; ++f) {
    std::vector<MemoryRun> fileRuns(ordered[f].size());
    uint64_t size = 0;
    for (auto& [index, run] : ordered[f]) {
      fileRuns[index] = run;
      size += uint64_t(run.Length) * 4096;
    }
    volume->AddFile(dirIndex[f % directories], "file" + std::to_string(f) + ".dat", fileRuns, size,
                    f % 5 == 0 ? recentWrite : oldWrite);
  }
  return volume;
}

// What any tool must do to learn every file's extents, without the engine.
uint64_t BareEnumeration(MemoryVolume& volume, bool ntfs, uint32_t entries) {
  Handle volumeHandle = volume.OpenVolume("\\\\.\\C:");
  auto answer = std::make_unique<RetrievalPointersBuffer>();
  uint64_t extents = 0;
  auto readExtents = [&](Handle file) {
    int64_t vcn = 0;
    while (true) {
      IoStatusBlock iosb;
      NtStatus status = volume.GetRetrievalPointers(file, vcn, *answer, iosb);
      if ((status != kStatusSuccess && status != kStatusBufferOverflow) || answer->ExtentCount == 0)
        break;
      extents += answer->ExtentCount;
      if (status == kStatusSuccess) break;
      vcn = answer->Extents[answer->ExtentCount - 1].NextVcn;
    }
    volume.CloseHandle(file);
  };
  if (ntfs) {
    auto record = std::make_unique<NtfsFileRecordOutputBuffer>();
    for (uint32_t r = 1; r <= entries + 1; ++r) {
      if (volume.GetNtfsFileRecord(volumeHandle, r, *record) != kStatusSuccess) continue;
      if (uint32_t(record->FileReferenceNumber) != r) continue;
      Handle file = 0;
      uint64_t id = uint64_t(r) | (uint64_t(record->FileRecordBuffer[16] | (record->FileRecordBuffer[17] << 8)) << 48);
      if (volume.OpenFileById(volumeHandle, id, file) == kStatusSuccess) readExtents(file);
    }
  } else {
    std::vector<std::string> queue{"C:\\"};
    std::vector<DirectoryEntry> listing;
    std::string name;
    for (size_t i = 0; i < queue.size(); ++i) {
      if (!volume.ListDirectory(queue[i] + "*.*", listing)) continue;
      for (const DirectoryEntry& entry : listing) {
        if (entry.Name == u"." || entry.Name == u"..") continue;
        Utf16ToUtf8(entry.Name, name);
        std::string path = queue[i] + name;
        bool directory = entry.FileAttributes & kFileAttributeDirectory;
        if (directory) queue.push_back(path + "\\");
        Handle file = volume.CreateFile(path, kGenericRead, kFileShareRead | kFileShareWrite,
                                        directory ? kFileFlagBackupSemantics : kFileFlagNoBuffering);
        if (file != kInvalidHandle) readExtents(file);
      }
    }
  }
  volume.CloseHandle(volumeHandle);
  return extents;
}

void RunOne(bool ntfs, uint8_t mode, uint32_t files, const BenchOptions& options) {
  auto started = std::chrono::steady_clock::now();
  uint32_t entries = 0;
  auto volume = BuildVolume(ntfs, files, options, entries);
  double buildSeconds = Seconds(started);
  long volumeKb = ResidentKilobytes();

  started = std::chrono::steady_clock::now();
  BareEnumeration(*volume, ntfs, entries);
  double bareSeconds = Seconds(started);

  BenchClock clock;
  InlineDispatcher dispatcher;
  SilentNotifier notifier;
  EngineServices services{clock, dispatcher, notifier};
  std::unique_ptr<TDefrag> engine;
  if (ntfs)
    engine = std::make_unique<TNtfsDefrag>("C:", volume, services);
  else
    engine = std::make_unique<TFatDefrag>("C:", volume, services);

  started = std::chrono::steady_clock::now();
  engine->State = dsAnalyzing;
  engine->Analyze(mode);
  double analyzeSeconds = Seconds(started);
  long afterAnalysisKb = ResidentKilobytes();
  int fragmented = engine->Report->FragmentedFileCount + engine->Report->FragmentedDirCount;
  size_t kept = engine->FragmentedList.size() + engine->RareList.size() +
                engine->DirectoryList.size() + engine->FrequentList.size();

  // A pass that runs past its time is stopped the way the window stops it.
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> guard(lock);
    if (!done.wait_for(guard, std::chrono::duration<double>(options.PassSeconds), [&] { return finished; }))
      engine->State = dsStopping;
  });
  started = std::chrono::steady_clock::now();
  engine->State = dsDefragging;
  engine->Defrag(mode);
  double defragSeconds = Seconds(started);
  {
    std::lock_guard<std::mutex> guard(lock);
    finished = true;
  }
  done.notify_one();
  watchdog.join();
  bool stopped = engine->State.load() == dsStopping;
  uint32_t moved = engine->Report->ClustersMoved;
  int joined = engine->Report->DefraggedFileCount + engine->Report->DefraggedDirCount;

  std::printf("%-5s %-8s %9u | build %6.2fs | bare %7.3fs | analyze %7.3fs %10.0f files/s ratio %4.2f"
              " | kept %8zu fragmented %7d | pass %8.3fs%s moved %9u clusters %11.0f clusters/s joined %7d"
              " | volume %7ld MB, analysis +%5ld MB, peak %7ld MB\n",
              ntfs ? "NTFS" : "FAT32", mode == dmFast ? "fast" : "optimize", files, buildSeconds,
              bareSeconds, analyzeSeconds, entries / analyzeSeconds, analyzeSeconds / bareSeconds,
              kept, fragmented, defragSeconds, stopped ? " (stopped)" : "", moved, moved / std::max(defragSeconds, 1e-9), joined,
              volumeKb / 1024, (afterAnalysisKb - volumeKb) / 1024, PeakKilobytes() / 1024);
  std::fflush(stdout);
}

} // namespace
} // namespace quillo

int main(int argc, char** argv) {
  quillo::BenchOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    double value = std::atof(argv[i + 1]);
    if (name == "--max") options.MaxFiles = uint32_t(value);
    else if (name == "--fragmented") options.FragmentedPercent = uint32_t(value);
    else if (name == "--gap-percent") options.GapPercent = uint32_t(value);
    else if (name == "--gap-max") options.MaxGapClusters = std::max(1u, uint32_t(value));
    else if (name == "--pass-seconds") options.PassSeconds = value;
    else if (name == "--fs") options.OnlyFs = argv[i + 1];
    else if (name == "--mode") options.OnlyMode = argv[i + 1];
  }
  std::printf("files of 1-16 clusters, %u%% fragmented; %u%% of pieces followed by 1-%u free "
              "clusters; passes stopped after %.0f s\n",
              options.FragmentedPercent, options.GapPercent, options.MaxGapClusters,
              options.PassSeconds);
  for (uint32_t files : {10000u, 100000u, 1000000u}) {
    if (files > options.MaxFiles) break;
    for (bool ntfs : {false, true})
      for (uint8_t mode : {uint8_t(quillo::dmFast), uint8_t(quillo::dmOptimize)}) {
        if (!options.OnlyFs.empty() && options.OnlyFs != (ntfs ? "ntfs" : "fat")) continue;
        if (!options.OnlyMode.empty() && options.OnlyMode != (mode == quillo::dmFast ? "fast" : "optimize"))
          continue;
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
          quillo::RunOne(ntfs, mode, files, options);
          std::_Exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
          std::printf("configuration failed (status %d)\n", status);
      }
  }
  return 0;
}
