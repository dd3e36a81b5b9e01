// SPDX-License-Identifier: GPL-2.0-or-later
// NTFS speed on an image of 100,000 files, built once and kept:
//   - analysis (open, MFT check, the engine's whole walk) against
//     "ntfscluster -i" and The Sleuth Kit's "fls -r" on the same image;
//   - moves (journaled, synced, in the engine's requests of 1,024 clusters)
//     against dd copying the same number of bytes with fdatasync.
// Targets: analysis no slower than the faster of the two tools (ratio <= 1),
// moves at least half of dd's throughput (ratio >= 0.5).
//
//   quillo_ntfs_bench [--files N] [--work DIR] [--ours-only 1] [--moves 0] [--kept-mib N]
// (--ours-only runs our analysis alone, for profiling; --moves 0 leaves the
// moves out; --kept-mib sets the memory for the MFT records kept from
// opening, 0 to have the analysis read the MFT again.)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/NtfsDefrag.h"
#include "engine/UiDispatcher.h"
#include "engine/UserNotifier.h"
#include "platform/SystemClock.h"
#include "platform/ntfs/ImageFile.h"
#include "platform/ntfs/NtfsVolume.h"

namespace {

using Clock = std::chrono::steady_clock;
using quillo::Handle;

constexpr int kDefaultFiles = 100000;
constexpr uint64_t kImageBytes = uint64_t(2) << 30;
constexpr int kMovedFiles = 32;
constexpr int kMovedFileMiB = 4;
constexpr uint32_t kClusterBytes = 4096;
constexpr uint32_t kRequestClusters = 1024; // the engine's move requests
constexpr int kRepeats = 3;

// --kept-mib: the memory for the MFT records kept from opening (-1: the
// device's default).
int64_t gKeptBytes = -1;

class QuietNotifier final : public quillo::UserNotifier {
public:
  void ShowMessage(const std::string& text, const std::string&) override {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "quillo_ntfs_bench: %s\n", what.c_str());
  std::exit(1);
}

double SecondsOf(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

// Runs a program with its output thrown away; its exit code. `processor`,
// when given, receives the program's processor time (user and system).
int Run(const std::vector<std::string>& argv, double* processor = nullptr) {
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (processor) *processor = SecondsOf(usage.ru_utime) + SecondsOf(usage.ru_stime);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process so far (user and system), which a busy
// machine disturbs less than the time on the clock.
double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return SecondsOf(usage.ru_utime) + SecondsOf(usage.ru_stime);
}

// The best clock and processor times of a tool over the rounds.
struct ToolFigures {
  double Wall = 1e30;
  double Processor = 1e30;
  void Measure(const std::vector<std::string>& argv) {
    Clock::time_point start = Clock::now();
    double processor = 0;
    Run(argv, &processor);
    Wall = std::min(Wall, Seconds(start));
    Processor = std::min(Processor, processor);
  }
};

void BuildImage(const std::filesystem::path& image, int files) {
  std::filesystem::path source = image.parent_path() / "source.bin";
  {
    std::vector<char> bytes(size_t(kMovedFileMiB) << 20);
    std::mt19937 random(7);
    for (char& byte : bytes) byte = char(random());
    std::ofstream(source, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }
  std::filesystem::resize_file(image, 0);
  std::filesystem::resize_file(image, kImageBytes);
  if (Run({"mkntfs", "-F", "-Q", "-T", "-q", "-c", std::to_string(kClusterBytes), "-L", "BENCH", image.string()}) != 0)
    Fail("mkntfs failed");
  if (Run({QUILLO_NTFS_FIXTURE_TOOL, image.string(), "populate", "/bench", std::to_string(files)}) != 0)
    Fail("populating the image failed");
  if (Run({QUILLO_NTFS_FIXTURE_TOOL, image.string(), "mkdir", "/moves"}) != 0) Fail("mkdir failed");
  for (int i = 0; i < kMovedFiles; ++i)
    if (Run({QUILLO_NTFS_FIXTURE_TOOL, image.string(), "write", "/moves/big-" + std::to_string(i) + ".bin",
             source.string(), std::to_string(kRequestClusters)}) != 0)
      Fail("writing the files to move failed");
}

std::shared_ptr<quillo::NtfsVolume> OpenImage(const std::filesystem::path& image,
                                              const std::filesystem::path& work) {
  quillo::NtfsVolumeOptions options;
  options.DeviceName = image.string();
  std::string why;
  options.Storage = quillo::ImageFile::Open(image, quillo::StorageMode::ReadWrite, why);
  if (!options.Storage) Fail(why);
  options.JournalFolder = work / "journal";
  if (gKeptBytes >= 0) options.KeptRecordBytes = size_t(gKeptBytes);
  std::shared_ptr<quillo::NtfsVolume> volume = quillo::NtfsVolume::Open(std::move(options), why);
  if (!volume) Fail(why);
  return volume;
}

// The best figures over the rounds.
struct AnalysisFigures {
  double Ours = 1e30;      // opening and analysis, as a first analysis after the program starts
  double Opening = 1e30;   // opening: the mount, the journal and the check of the whole MFT
  double Walk = 1e30;      // the analysis itself, the volume open (every analysis after the first)
  double Processor = 1e30; // processor time of opening and analysis
  int32_t Files = 0;
};

// One round of opening and analysis.
void Analyse(const std::filesystem::path& image, const std::filesystem::path& work,
             AnalysisFigures& figures) {
  Clock::time_point round = Clock::now();
  {
    double processor = ProcessorSeconds();
    quillo::SystemClock clock;
    quillo::InlineDispatcher dispatcher;
    QuietNotifier notifier;
    Clock::time_point start = Clock::now();
    std::shared_ptr<quillo::NtfsVolume> volume = OpenImage(image, work);
    figures.Opening = std::min(figures.Opening, Seconds(start));
    quillo::TNtfsDefrag engine("C:", volume, quillo::EngineServices{clock, dispatcher, notifier});
    Clock::time_point walk = Clock::now();
    engine.State = quillo::dsAnalyzing;
    engine.Analyze(quillo::dmFast);
    figures.Walk = std::min(figures.Walk, Seconds(walk));
    figures.Files = engine.Report->FileCount.load();
    volume.reset();
    figures.Processor = std::min(figures.Processor, ProcessorSeconds() - processor);
  }
  figures.Ours = std::min(figures.Ours, Seconds(round));
}

// The first free run of `length` clusters.
int64_t FreeRun(quillo::NtfsVolume& volume, Handle handle, int64_t length) {
  auto answer = std::make_unique<quillo::VolumeBitmapBuffer>();
  int64_t run = 0;
  for (int64_t start = 0;;) {
    quillo::IoStatusBlock iosb;
    quillo::NtStatus status = volume.GetVolumeBitmap(handle, start, *answer, iosb);
    int64_t count = std::min<int64_t>(answer->BitmapSize, quillo::kBitmapCapacityClusters);
    for (int64_t k = 0; k < count; ++k) {
      bool used = (answer->Buffer[k / 8] >> (k % 8)) & 1;
      run = used ? 0 : run + 1;
      if (run == length) return answer->StartingLcn + k - length + 1;
    }
    if (status != quillo::kStatusBufferOverflow) return -1;
    start = answer->StartingLcn + count;
  }
}

// Moves every file of /moves to free space; the seconds it took.
double MoveFiles(const std::filesystem::path& image, const std::filesystem::path& work, int64_t& bytes) {
  std::shared_ptr<quillo::NtfsVolume> volume = OpenImage(image, work);
  Handle handle = volume->OpenVolume("\\\\.\\C:");
  bytes = 0;
  Clock::time_point start = Clock::now();
  for (int i = 0; i < kMovedFiles; ++i) {
    Handle file = volume->CreateFile("C:\\moves\\big-" + std::to_string(i) + ".bin", quillo::kGenericRead,
                                     quillo::kFileShareRead, 0);
    if (file == quillo::kInvalidHandle) Fail("cannot open a file to move");
    int64_t clusters = (int64_t(kMovedFileMiB) << 20) / kClusterBytes;
    int64_t target = FreeRun(*volume, handle, clusters);
    if (target < 0) Fail("no free run to move to");
    for (int64_t at = 0; at < clusters; at += kRequestClusters) {
      quillo::IoStatusBlock iosb;
      quillo::MoveFileData data{file, at, target + at, uint32_t(std::min<int64_t>(kRequestClusters, clusters - at))};
      if (volume->MoveFile(handle, data, iosb) != quillo::kStatusSuccess) Fail("a move failed: " + volume->LastProblem());
    }
    bytes += clusters * kClusterBytes;
    volume->CloseHandle(file);
  }
  volume->EndWriteSession();
  return Seconds(start);
}

// dd copying the same number of bytes in place, from the start of the data
// area to the upper half of the volume: synced once at the end, or after
// every 4 MiB block as each of our move requests is.
double CopyWithDd(const std::filesystem::path& image, int64_t bytes, bool syncEachBlock) {
  constexpr int64_t kBlock = 4 << 20;
  int64_t blocks = bytes / kBlock;
  Clock::time_point start = Clock::now();
  std::vector<std::string> command = {"dd", "if=" + image.string(), "of=" + image.string(), "bs=4M",
                                      "count=" + std::to_string(blocks), "skip=16",
                                      "seek=" + std::to_string(int64_t(kImageBytes) / kBlock / 2)};
  command.push_back(syncEachBlock ? "conv=notrunc" : "conv=notrunc,fdatasync");
  if (syncEachBlock) command.push_back("oflag=dsync");
  if (Run(command) != 0) Fail("dd failed");
  return Seconds(start);
}

} // namespace

int main(int argc, char** argv) {
  int files = kDefaultFiles;
  bool oursOnly = false;
  bool withMoves = true;
  std::filesystem::path work = std::filesystem::temp_directory_path() / "quillo-ntfs-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--files") files = std::atoi(argv[i + 1]);
    else if (option == "--work") work = argv[i + 1];
    else if (option == "--ours-only") oursOnly = std::atoi(argv[i + 1]) != 0;
    else if (option == "--moves") withMoves = std::atoi(argv[i + 1]) != 0;
    else if (option == "--kept-mib") gKeptBytes = int64_t(std::atoi(argv[i + 1])) << 20;
    else Fail("unknown option " + option);
  }
  std::filesystem::create_directories(work);
  std::filesystem::path image = work / ("volume-" + std::to_string(files) + ".img");
  if (!std::filesystem::exists(image)) {
    std::printf("Building an image of %d files in %s (once)...\n", files, image.c_str());
    std::ofstream(image).close();
    BuildImage(image, files);
  }

  // Warm the page cache the same way for everyone. The rounds alternate
  // between us and the tools, so that a busy moment of the machine (other
  // builds, other tests) weighs on all of them alike.
  Run({"cat", image.string()});
  AnalysisFigures ours;
  ToolFigures ntfscluster, fls;
  for (int round = 0; round < kRepeats; ++round) {
    Analyse(image, work, ours);
    if (oursOnly) continue;
    ntfscluster.Measure({"ntfscluster", "-i", image.string()});
    fls.Measure({"fls", "-r", image.string()});
  }
  if (oursOnly) {
    std::printf("analysis: %.3f s (the analysis %.3f s, opening %.3f s; processor %.3f s), %d files\n",
                ours.Ours, ours.Walk, ours.Opening, ours.Processor, ours.Files);
    return 0;
  }
  double reference = std::min(ntfscluster.Wall, fls.Wall);
  double referenceProcessor = std::min(ntfscluster.Processor, fls.Processor);

  // Best of a few rounds, each on a fresh copy of the image.
  std::filesystem::path copy = work / "moves.img";
  int64_t bytes = 0;
  double moves = 1e30, dd = 1e30, ddSynced = 1e30;
  for (int round = 0; round < kRepeats && withMoves; ++round) {
    if (Run({"cp", "--sparse=always", image.string(), copy.string()}) != 0) Fail("cannot copy the image");
    moves = std::min(moves, MoveFiles(copy, work, bytes));
    dd = std::min(dd, CopyWithDd(copy, bytes, false));
    ddSynced = std::min(ddSynced, CopyWithDd(copy, bytes, true));
  }
  std::filesystem::remove(copy);

  // Peak resident memory over the whole run: the analyses (with the MFT
  // records kept from opening) and the moves.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  double mib = double(bytes) / (1 << 20);
  std::printf("NTFS image: %d files (%d counted by the analysis)\n", files, ours.Files);
  std::printf("analysis:    ours %.3f s (the analysis %.3f s, opening the volume %.3f s),\n"
              "             ntfscluster -i %.3f s, fls -r %.3f s (each opens the volume)\n",
              ours.Ours, ours.Walk, ours.Opening, ntfscluster.Wall, fls.Wall);
  std::printf("  processor: ours %.3f s, ntfscluster -i %.3f s, fls -r %.3f s; ratio %.2f\n", ours.Processor,
              ntfscluster.Processor, fls.Processor, ours.Processor / referenceProcessor);
  std::printf("  ratio to the faster tool: %.2f with opening, %.2f the analysis alone (target <= 1.00)\n",
              ours.Ours / reference, ours.Walk / reference);
  if (withMoves) {
    std::printf("moves:       %.0f MiB in %.3f s (%.1f MiB/s); dd %.3f s (%.1f MiB/s)\n", mib, moves, mib / moves,
                dd, mib / dd);
    std::printf("  ratio to dd's throughput: %.2f (target >= 0.50)\n", dd / moves);
    std::printf("  dd synced after every 4 MiB block, as each move request is: %.3f s (%.1f MiB/s), ratio %.2f\n",
                ddSynced, mib / ddSynced, ddSynced / moves);
  }
  std::printf("peak memory: %.1f MiB\n", double(usage.ru_maxrss) / 1024);
  return 0;
}
