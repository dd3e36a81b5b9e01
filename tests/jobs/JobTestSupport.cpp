// SPDX-License-Identifier: GPL-2.0-or-later
#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/TextCodec.h"
#include "platform/ThreadPriority.h"

namespace quillo::test {

namespace {
constexpr auto kPatience = std::chrono::seconds(30);
constexpr auto kPollStep = std::chrono::milliseconds(1);
constexpr uint32_t kVolumeClusters = 4096;
constexpr uint32_t kFirstDataCluster = 16;
constexpr uint32_t kBytesPerCluster = 4096;
} // namespace

void ScriptedEngine::See(uint8_t state) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Seen.empty() || Seen.back() != state) Seen.push_back(state);
}

bool ScriptedEngine::WaitUntilSeen(uint8_t state) const {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> guard(Lock);
      if (std::find(Seen.begin(), Seen.end(), state) != Seen.end()) return true;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  return false;
}

void ScriptedEngine::Analyze(uint8_t mode) {
  ++Analyses;
  IdlePriority = HasIdlePriority();
  {
    std::lock_guard<std::mutex> guard(Lock);
    Modes.push_back(mode);
    Throttles.push_back(Throttled.load());
  }
  Map->ResetMap();
  FragmentedList.clear();
  for (int step = 0; step < Plan.Steps; ++step) {
    if (Plan.AnalysisGate) Plan.AnalysisGate->Arrive();
    See(State.load());
    if (State.load() == dsStopping) {
      Map->ResetMap();
      return;
    }
    while (State.load() == dsAnalyzePaused) {
      See(dsAnalyzePaused);
      SystemClock().Sleep(kPauseWaitMs);
    }
    See(State.load());
    if (Plan.SleepPerStep) SystemClock().Sleep(kThrottleWaitMs);
  }
  if (Plan.Failure) throw DefragError(*Plan.Failure);

  // List what the pass should join, as a fast analysis would.
  VolumeDevice& volume = Device();
  std::vector<std::string> pending{VolumeName + "\\"};
  while (!pending.empty()) {
    std::string directory = pending.back();
    pending.pop_back();
    std::vector<DirectoryEntry> entries;
    if (!volume.ListDirectory(directory, entries)) continue;
    for (const DirectoryEntry& entry : entries) {
      std::string name;
      if (!Utf16ToUtf8(entry.Name, name)) continue;
      if (name == "." || name == "..") continue;
      if (entry.FileAttributes & kFileAttributeDirectory) {
        pending.push_back(directory + name + "\\");
        continue;
      }
      auto file = std::make_unique<FILE_INFO>();
      file->Name = directory + name;
      if (!ReadExtents(*file) || file->ExtentCount < 2) continue;
      file->Status = fsAnalyzed;
      Report->AddEntry(*file);
      Map->AddExtents(*file, FileCategory(*file));
      FragmentedList.push_back(std::move(file));
    }
  }
  uint8_t end = Plan.EndState.value_or(dsAnalyzed);
  uint8_t current = State.load();
  while (current != dsStopping && !State.compare_exchange_weak(current, end)) {
  }
  if (Plan.EndGate) Plan.EndGate->Arrive();
}

Handle ScriptedEngine::OpenFile(FILE_INFO& file) {
  uint32_t attributes = Device().GetFileAttributes(file.Name);
  bool directory = attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
  return Device().CreateFile(file.Name, kGenericRead,
                             directory ? kFileShareRead | kFileShareWrite | kFileShareDelete
                                       : kFileShareRead | kFileShareWrite,
                             directory ? kFileFlagBackupSemantics : kFileFlagNoBuffering);
}

std::shared_ptr<MemoryVolume> MakeFragmentedVolume(int fragmented, uint32_t extentClusters,
                                                   const std::string& fileSystem,
                                                   const std::string& volumeName) {
  MemoryVolume::Options options;
  options.VolumeName = volumeName;
  options.FileSystemName = fileSystem;
  options.TotalClusters = kVolumeClusters;
  options.SectorsPerCluster = kBytesPerCluster / 512;
  options.BytesPerSector = 512;
  auto volume = std::make_shared<MemoryVolume>(options);
  volume->Reserve(0, kFirstDataCluster);

  uint32_t docs = volume->AddDirectory(MemoryVolume::kRootIndex, "docs");
  volume->SetRuns(docs, {{kFirstDataCluster, 1}});
  uint32_t next = kFirstDataCluster + 1;
  // Contiguous files first, then fragmented ones whose extents lie apart.
  for (int i = 0; i < 4; ++i) {
    volume->AddFile(docs, "plain" + std::to_string(i) + ".txt", {{int64_t(next), 4}},
                    4 * kBytesPerCluster);
    next += 4;
  }
  for (int i = 0; i < fragmented; ++i) {
    std::vector<MemoryRun> runs;
    for (int piece = 0; piece < 3; ++piece) {
      runs.push_back({int64_t(next), extentClusters});
      next += extentClusters + 2; // a gap keeps the pieces apart
    }
    volume->AddFile(i % 2 == 0 ? MemoryVolume::kRootIndex : docs,
                    "broken" + std::to_string(i) + ".bin", runs,
                    uint64_t(3) * extentClusters * kBytesPerCluster);
  }
  return volume;
}

void ExpectParks(const TDefragThread& job) {
  EXPECT_TRUE(job.WaitUntilParked(kPatience)) << "the job did not park";
}

void ExpectStateSoon(const TDefragThread& job, uint8_t state) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (job.State() != state && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(kPollStep);
  EXPECT_EQ(int(job.State()), int(state));
}

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const DefragError& error) {
    return error.what();
  }
  return "";
}

} // namespace quillo::test
