// SPDX-License-Identifier: GPL-2.0-or-later
// FAT32 benchmark: on an image of about 100,000 files (1 GiB, fragmented),
// our analysis time against fsck.fat -n, and the fast pass's move
// throughput against dd copying as many bytes within the image (page cache
// warm). Prints the ratios and the peak memory.
//
//   quillo_fat32_bench [work folder [analysis]]
// The work folder defaults to $QUILLO_BENCH_DIR, or else the build folder;
// "analysis" stops after the analysis figures (for profiling).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/FatDefrag.h"
#include "engine/UiDispatcher.h"
#include "engine/UserNotifier.h"
#include "platform/FileBlockDevice.h"
#include "platform/ForwardingBlockDevice.h"
#include "platform/SystemClock.h"
#include "platform/fat/FatVolume.h"

namespace {

namespace fs = std::filesystem;
using namespace quillo;
using Timer = std::chrono::steady_clock;

constexpr int kRepeats = 5;
constexpr uint64_t kDdBlockBytes = 4 << 20;

class SilentNotifier final : public UserNotifier {
public:
  void ShowMessage(const std::string&, const std::string&) override {}
};

double Seconds(Timer::time_point since) {
  return std::chrono::duration<double>(Timer::now() - since).count();
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

int Run(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Seconds of the best of kRepeats runs of a shell command.
double TimeCommand(const std::string& command) {
  double best = 1e30;
  for (int i = 0; i < kRepeats; ++i) {
    auto start = Timer::now();
    Run(command + " > /dev/null 2>&1");
    best = std::min(best, Seconds(start));
  }
  return best;
}

std::unique_ptr<FileBlockDevice> OpenImage(const fs::path& path, bool readOnly) {
  int fd = open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return std::make_unique<FileBlockDevice>(fd, 0, DescriptorSize(fd), readOnly);
}

// Forwards every call to the FAT device and adds up the time spent in moves,
// to tell the device's share of the pass from the engine's own work.
class TimedVolume final : public VolumeDevice {
public:
  explicit TimedVolume(std::shared_ptr<VolumeDevice> inner) : Inner(std::move(inner)) {}
  double MoveSeconds = 0;
  double FirstMoveSeconds = 0; // holds the volume check before the first write
  uint64_t MoveRequests = 0;

  Handle OpenVolume(const std::string& path) override { return Inner->OpenVolume(path); }
  bool GetGeometry(const std::string& root, DiskGeometry& out) override {
    return Inner->GetGeometry(root, out);
  }
  bool GetFreeSpace(const std::string& root, DiskFreeSpace& out) override {
    return Inner->GetFreeSpace(root, out);
  }
  bool GetVolumeInformation(const std::string& root, size_t capacity,
                            VolumeInformation& out) override {
    return Inner->GetVolumeInformation(root, capacity, out);
  }
  NtStatus GetVolumeBitmap(Handle volume, int64_t lcn, VolumeBitmapBuffer& out,
                           IoStatusBlock& iosb) override {
    return Inner->GetVolumeBitmap(volume, lcn, out, iosb);
  }
  uint32_t GetFileAttributes(const std::string& path) override {
    return Inner->GetFileAttributes(path);
  }
  Handle CreateFile(const std::string& path, uint32_t access, uint32_t share,
                    uint32_t flags) override {
    return Inner->CreateFile(path, access, share, flags);
  }
  bool GetFileInformationByHandle(Handle file, FileInformation& out) override {
    return Inner->GetFileInformationByHandle(file, out);
  }
  NtStatus GetRetrievalPointers(Handle file, int64_t vcn, RetrievalPointersBuffer& out,
                                IoStatusBlock& iosb) override {
    return Inner->GetRetrievalPointers(file, vcn, out, iosb);
  }
  NtStatus MoveFile(Handle volume, const MoveFileData& data, IoStatusBlock& iosb) override {
    auto start = Timer::now();
    NtStatus status = Inner->MoveFile(volume, data, iosb);
    double seconds = Seconds(start);
    MoveSeconds += seconds;
    if (MoveRequests++ == 0) FirstMoveSeconds = seconds;
    return status;
  }
  NtStatus GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) override {
    return Inner->GetNtfsVolumeData(volume, out);
  }
  NtStatus GetNtfsFileRecord(Handle volume, int64_t reference,
                             NtfsFileRecordOutputBuffer& out) override {
    return Inner->GetNtfsFileRecord(volume, reference, out);
  }
  NtStatus OpenFileById(Handle volume, uint64_t id, Handle& out) override {
    return Inner->OpenFileById(volume, id, out);
  }
  NtStatus QueryFileName(Handle file, FileNameInformation& out) override {
    return Inner->QueryFileName(file, out);
  }
  bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
    return Inner->ListDirectory(path, out);
  }
  void CloseHandle(Handle handle) override { Inner->CloseHandle(handle); }
  void EndWriteSession() override {
    auto start = Timer::now();
    Inner->EndWriteSession();
    MoveSeconds += Seconds(start);
  }

private:
  std::shared_ptr<VolumeDevice> Inner;
};

struct Services {
  SystemClock Time;
  InlineDispatcher Dispatcher;
  SilentNotifier Notifier;
  EngineServices Get() { return {Time, Dispatcher, Notifier}; }
};

double FlushSeconds = 0;

// Counts the flushes the device asks of the image, and their time.
class CountingDevice final : public ForwardingBlockDevice {
public:
  CountingDevice(std::unique_ptr<BlockDevice> inner, uint64_t& syncs)
      : ForwardingBlockDevice(std::move(inner)), Syncs(syncs) {}
  bool Sync() override {
    ++Syncs;
    auto start = Timer::now();
    bool done = Target().Sync();
    FlushSeconds += Seconds(start);
    return done;
  }
  bool CopyWithin(uint64_t from, uint64_t to, size_t length) override {
    return Target().CopyWithin(from, to, length);
  }

private:
  uint64_t& Syncs;
};

uint64_t FlushCount = 0;

std::shared_ptr<VolumeDevice> OpenVolume(const fs::path& image, bool readOnly) {
  std::string why;
  std::shared_ptr<VolumeDevice> volume = fat::FatVolume::Open(
      "C:", std::make_unique<CountingDevice>(OpenImage(image, readOnly), FlushCount), why);
  if (!volume) {
    std::fprintf(stderr, "%s: %s\n", image.c_str(), why.c_str());
    std::exit(1);
  }
  return volume;
}

// Opening the volume and analysing it, as a job does.
double TimeAnalysis(const fs::path& image, int& files, int& fragmented) {
  double best = 1e30;
  for (int i = 0; i < kRepeats; ++i) {
    Services services;
    auto start = Timer::now();
    auto engine = std::make_unique<TFatDefrag>("C:", OpenVolume(image, true), services.Get());
    engine->State = dsAnalyzing;
    engine->Analyze(dmFast);
    best = std::min(best, Seconds(start));
    files = engine->Report->FileCount + engine->Report->DirCount;
    fragmented = engine->Report->FragmentedFileCount + engine->Report->FragmentedDirCount;
  }
  return best;
}

long PeakMemoryKiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("QUILLO_BENCH_DIR");
  fs::path dir = argc > 1 ? fs::path(argv[1]) : env ? fs::path(env) : fs::path(QUILLO_BENCH_DEFAULT_DIR);
  fs::create_directories(dir);
  fs::path image = dir / "bench.img";
  fs::path manifest = dir / "bench.manifest";
  if (!fs::exists(image) || !fs::exists(manifest)) {
    std::printf("Making the benchmark image in %s (once)...\n", dir.c_str());
    std::fflush(stdout);
    std::string command = Quote(QUILLO_BENCH_PYTHON) + " " + Quote(QUILLO_BENCH_SCRIPT) +
                          " make --profile bench --image " + Quote((dir / "making.img").string()) +
                          " --manifest " + Quote(manifest.string());
    if (Run(command) != 0) return 1;
    fs::rename(dir / "making.img", image);
  }

  // Analysis against fsck.fat -n, both on the same warm image.
  Run("cat " + Quote(image.string()) + " > /dev/null");
  double fsck = TimeCommand("fsck.fat -n " + Quote(image.string()));
  int files = 0;
  int fragmented = 0;
  double analysis = TimeAnalysis(image, files, fragmented);
  std::printf("analysis: %d files and directories, %d fragmented\n", files, fragmented);
  std::printf("  ours %.3f s, fsck.fat -n %.3f s, ratio %.2f (target <= 1.0)\n", analysis, fsck,
              analysis / fsck);
  if (argc > 2 && std::string(argv[2]) == "analysis") return 0;

  // The fast pass on a copy, against dd moving as many bytes in it.
  fs::path work = dir / "work.img";
  Run("cp --sparse=always " + Quote(image.string()) + " " + Quote(work.string()));
  // The copy's own write-back must not land in the first flushes of the pass.
  Run("sync " + Quote(work.string()));
  Services services;
  auto timed = std::make_shared<TimedVolume>(OpenVolume(work, false));
  auto engine = std::make_unique<TFatDefrag>("C:", timed, services.Get());
  engine->State = dsAnalyzing;
  engine->Analyze(dmFast);
  engine->State = dsDefragging;
  auto start = Timer::now();
  engine->Defrag(dmFast);
  engine->Device().EndWriteSession();
  double pass = Seconds(start);
  uint64_t bytesPerCluster = uint64_t(engine->SectorsPerCluster) * engine->BytesPerSector;
  uint64_t moved = uint64_t(engine->Report->ClustersMoved) * bytesPerCluster;
  int defragged = engine->Report->DefraggedFileCount + engine->Report->DefraggedDirCount;
  engine.reset();

  uint64_t blocks = std::max<uint64_t>(1, moved / kDdBlockBytes);
  uint64_t ddBytes = blocks * kDdBlockBytes;
  // From the first quarter of the image to the third, warm: as the target
  // asks, without a flush; then flushed once at the end, and flushed after
  // every 4 MiB block, for comparison with moves that are made durable.
  std::string dd = "dd if=" + Quote(work.string()) + " of=" + Quote(work.string()) +
                   " bs=4M count=" + std::to_string(blocks) + " skip=" +
                   std::to_string(fs::file_size(work) / 4 / kDdBlockBytes) +
                   " seek=" + std::to_string(fs::file_size(work) / 2 / kDdBlockBytes);
  double ddSeconds = TimeCommand(dd + " conv=notrunc");
  double ddSyncedOnce = TimeCommand(dd + " conv=notrunc,fdatasync");
  double ddSyncedEach = TimeCommand(dd + " conv=notrunc oflag=dsync");
  double ours = double(moved) / pass;
  double theirs = double(ddBytes) / ddSeconds;
  double device = double(moved) / timed->MoveSeconds;
  std::printf("fast pass: %d fragmented entries joined, %.1f MiB moved in %.3f s, of which "
              "%.3f s in %llu move requests (made durable in groups, the session's end "
              "included; the first, with the volume check before any write, %.3f s)\n",
              defragged, double(moved) / (1 << 20), pass, timed->MoveSeconds,
              static_cast<unsigned long long>(timed->MoveRequests), timed->FirstMoveSeconds);
  auto mib = [](double bytesPerSecond) { return bytesPerSecond / (1 << 20); };
  std::printf("  whole pass %.1f MiB/s, moves alone %.1f MiB/s; %llu flushes took %.3f s\n",
              mib(ours), mib(device), static_cast<unsigned long long>(FlushCount), FlushSeconds);
  std::printf("  dd %.1f MiB in 4 MiB blocks: %.1f MiB/s unflushed, %.1f MiB/s flushed once, "
              "%.1f MiB/s flushed per block\n",
              double(ddBytes) / (1 << 20), mib(theirs), mib(ddBytes / ddSyncedOnce),
              mib(ddBytes / ddSyncedEach));
  std::printf("  ratios to unflushed dd: whole pass %.2f, moves alone %.2f (target >= 0.5); "
              "moves alone to dd flushed per block %.2f\n",
              ours / theirs, device / theirs, device / (ddBytes / ddSyncedEach));
  std::printf("peak memory: %.1f MiB\n", double(PeakMemoryKiB()) / 1024);
  fs::remove(work);
  return 0;
}
