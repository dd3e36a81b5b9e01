// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/DemoVolume.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <vector>

#include "engine/DateTime.h"

namespace quillo {

namespace {

constexpr const char* kDemoPrefix = "demo:";
constexpr uint32_t kTotalClusters = 16384;
constexpr uint32_t kSectorsPerCluster = 8;
constexpr uint32_t kBytesPerSector = 512;
constexpr uint32_t kBytesPerCluster = kSectorsPerCluster * kBytesPerSector;
constexpr uint32_t kBytesPerRecord = 1024;
// The boot area, and on FAT32 the two tables.
constexpr uint32_t kNtfsReservedClusters = 16;
constexpr uint32_t kFatReservedClusters = 96;
// NTFS puts its MFT a quarter into the volume and keeps a zone after it.
constexpr uint32_t kMftStartDivisor = 4;
constexpr uint32_t kMftZoneDivisor = 8;
constexpr uint32_t kMftReserveRecords = 2048;
constexpr uint32_t kRandomSeed = 0x51D0;

constexpr int kFileCount = 420;
constexpr int kSmallPercent = 70;
constexpr int kMediumPercent = 25;
constexpr int kFragmentedPercent = 18;
constexpr int kRecentPercent = 25;
constexpr int kNewPercent = 5;

const char* const kFolders[] = {
    "Documents",
    "Documents\\Letters",
    "Documents\\Invoices",
    "Pictures",
    "Pictures\\2023",
    "Pictures\\2024",
    "Music",
    "Music\\Live",
    "Projects",
    "Projects\\engine",
    "Projects\\engine\\src",
    "Projects\\site",
    "Downloads",
    "Games",
    "Games\\Saves",
    "Mail",
    "Videos",
    "Backup",
    "Backup\\Weekly",
    "Program Files",
    "Program Files\\Tools",
    "Temp",
};
const char* const kStems[] = {"report", "photo",   "track",  "notes",  "budget", "draft",
                              "scan",   "invoice", "module", "backup", "clip",   "letter",
                              "save",   "archive", "index",  "setup",  "readme", "chart"};
const char* const kExtensions[] = {".doc", ".jpg", ".mp3", ".txt", ".xls", ".pdf",
                                   ".png", ".cpp", ".zip", ".mkv", ".db",  ".log"};

// Places runs on the demo's cluster bitmap.
class Placer {
public:
  explicit Placer(std::mt19937& random) : Random(random), Used(kTotalClusters, false) {}

  void Mark(uint32_t lcn, uint32_t length) {
    for (uint32_t i = 0; i < length && lcn + i < kTotalClusters; ++i)
      Used[lcn + i] = true;
  }

  // The next free run of `length` clusters at or after the cursor, with a
  // small random gap before it, as a file system filling up leaves them.
  std::optional<uint32_t> Append(uint32_t length) {
    Cursor += Random() % 3;
    std::optional<uint32_t> at = FindFree(Cursor, length, 0);
    if (!at) return std::nullopt;
    Mark(*at, length);
    Cursor = *at + length;
    return at;
  }

  // A free run anywhere, kept one cluster away from its neighbours so that
  // pieces of one file never touch.
  std::optional<uint32_t> Scatter(uint32_t length) {
    std::optional<uint32_t> at = FindFree(Random() % kTotalClusters, length, 1);
    if (!at) at = FindFree(0, length, 1);
    if (!at) return std::nullopt;
    Mark(*at, length);
    return at;
  }

private:
  std::optional<uint32_t> FindFree(uint32_t from, uint32_t length, uint32_t margin) const {
    uint32_t need = length + 2 * margin;
    uint32_t run = 0;
    for (uint32_t lcn = from; lcn < kTotalClusters; ++lcn) {
      run = Used[lcn] ? 0 : run + 1;
      if (run == need) return lcn + 1 - need + margin;
    }
    return std::nullopt;
  }

  std::mt19937& Random;
  std::vector<bool> Used;
  uint32_t Cursor = 0;
};

uint32_t Between(std::mt19937& random, uint32_t low, uint32_t high) {
  return low + random() % (high - low + 1);
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

} // namespace

bool LooksLikeDemoTarget(const std::string& target) {
  return Lower(target).rfind(kDemoPrefix, 0) == 0;
}

std::optional<DemoSpec> ParseDemoTarget(const std::string& target) {
  if (!LooksLikeDemoTarget(target)) return std::nullopt;
  std::string kind = Lower(target.substr(std::string(kDemoPrefix).size()));
  DemoSpec spec;
  if (kind.empty() || kind == "ntfs") return spec;
  if (kind == "fat32") {
    spec.FileSystem = "FAT32";
    return spec;
  }
  return std::nullopt;
}

std::shared_ptr<MemoryVolume> BuildDemoVolume(const DemoSpec& spec, const std::string& volumeName,
                                              TDateTime now) {
  MemoryVolume::Options options;
  options.VolumeName = volumeName;
  options.FileSystemName = spec.FileSystem;
  options.TotalClusters = kTotalClusters;
  options.SectorsPerCluster = kSectorsPerCluster;
  options.BytesPerSector = kBytesPerSector;
  options.BytesPerFileRecord = kBytesPerRecord;
  auto volume = std::make_shared<MemoryVolume>(options);

  std::mt19937 random(kRandomSeed);
  Placer placer(random);
  bool ntfs = spec.FileSystem == "NTFS";
  uint32_t reserved = ntfs ? kNtfsReservedClusters : kFatReservedClusters;
  volume->Reserve(0, reserved);
  placer.Mark(0, reserved);
  if (ntfs) {
    uint32_t mftStart = kTotalClusters / kMftStartDivisor;
    uint32_t mftClusters = kMftReserveRecords * kBytesPerRecord / kBytesPerCluster;
    volume->Reserve(mftStart, mftClusters);
    placer.Mark(mftStart, mftClusters);
    // The zone after the MFT stays free while the volume is young.
    uint32_t zoneEnd = mftStart + kTotalClusters / kMftZoneDivisor;
    placer.Mark(mftStart + mftClusters, zoneEnd - mftStart - mftClusters);
    volume->SetNtfsLayout(mftStart, mftStart, zoneEnd, -1);
  }

  auto fileTime = [&](double daysAgo) { return DateTimeToFileTime(now - daysAgo); };

  // Directories, each with a cluster of its own.
  std::vector<uint32_t> folders;
  for (const char* path : kFolders) {
    std::string text = path;
    size_t slash = text.rfind('\\');
    uint32_t parent = MemoryVolume::kRootIndex;
    if (slash != std::string::npos) {
      std::string parentPath = volumeName + "\\" + text.substr(0, slash);
      parent = *volume->FindPath(parentPath);
    }
    uint32_t index =
        volume->AddDirectory(parent, text.substr(slash == std::string::npos ? 0 : slash + 1),
                             fileTime(Between(random, 40, 400)));
    if (std::optional<uint32_t> at = placer.Append(1)) volume->SetRuns(index, {{int64_t(*at), 1}});
    folders.push_back(index);
  }

  for (int i = 0; i < kFileCount; ++i) {
    int kind = int(random() % 100);
    uint32_t clusters = kind < kSmallPercent                    ? Between(random, 1, 8)
                        : kind < kSmallPercent + kMediumPercent ? Between(random, 10, 60)
                                                                : Between(random, 100, 400);
    bool fragmented = clusters >= 2 && int(random() % 100) < kFragmentedPercent;
    int age = int(random() % 100);
    double daysAgo = age < kNewPercent                    ? 0.5
                     : age < kNewPercent + kRecentPercent ? Between(random, 3, 30)
                                                          : Between(random, 60, 900);

    std::vector<MemoryRun> runs;
    if (fragmented) {
      uint32_t pieces = std::min<uint32_t>(clusters, Between(random, 2, 6));
      uint32_t left = clusters;
      for (uint32_t p = 0; p < pieces; ++p) {
        uint32_t length = p + 1 == pieces ? left : std::max<uint32_t>(1, left / (pieces - p));
        left -= length;
        std::optional<uint32_t> at = placer.Scatter(length);
        if (!at) break;
        runs.push_back({int64_t(*at), length});
      }
      if (runs.size() < pieces) continue; // the volume is full: leave the file out
    } else {
      std::optional<uint32_t> at = placer.Append(clusters);
      if (!at) continue;
      runs.push_back({int64_t(*at), clusters});
    }

    uint32_t folder = folders[random() % folders.size()];
    std::string name = std::string(kStems[random() % std::size(kStems)]) + "-" +
                       std::to_string(1000 + i) + kExtensions[random() % std::size(kExtensions)];
    uint64_t size = uint64_t(clusters) * kBytesPerCluster - random() % kBytesPerCluster;
    volume->AddFile(folder, name, runs, size, fileTime(daysAgo));
  }
  return volume;
}

} // namespace quillo
