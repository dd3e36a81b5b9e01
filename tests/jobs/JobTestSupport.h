// SPDX-License-Identifier: GPL-2.0-or-later
// Test doubles for the job tests: an engine whose analysis the test steers
// step by step, a volume whose moves wait at a gate, a clock whose sleeps
// are short real sleeps, and a factory that hands out either.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "engine/DefragClass.h"
#include "engine/MemoryVolume.h"
#include "jobs/DefragThread.h"

namespace quillo::test {

// Blocks the threads that arrive while it is closed. Tests wait for an
// arrival, look at the job, then let it through.
class Gate {
public:
  explicit Gate(bool open = true) : Open(open) {}

  // Called by the job thread.
  void Arrive() {
    std::unique_lock<std::mutex> lock(Lock);
    ++Arrivals;
    Changed.notify_all();
    Changed.wait(lock, [&] { return Open || Passes > 0; });
    if (!Open) --Passes;
  }
  void Close() {
    std::lock_guard<std::mutex> guard(Lock);
    Open = false;
  }
  void OpenFully() {
    std::lock_guard<std::mutex> guard(Lock);
    Open = true;
    Changed.notify_all();
  }
  // Lets one waiting (or the next) arrival through.
  void PassOne() {
    std::lock_guard<std::mutex> guard(Lock);
    ++Passes;
    Changed.notify_all();
  }
  // Waits until at least `count` arrivals happened in all.
  bool WaitForArrivals(int count, std::chrono::seconds timeout = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(Lock);
    return Changed.wait_for(lock, timeout, [&] { return Arrivals >= count; });
  }
  int ArrivalCount() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Arrivals;
  }

private:
  mutable std::mutex Lock;
  std::condition_variable Changed;
  bool Open;
  int Passes = 0;
  int Arrivals = 0;
};

// A clock whose sleeps are real but never longer than a millisecond, so
// that pause loops neither spin nor slow the tests down.
class ShortSleepClock final : public Clock {
public:
  TDateTime Now() override { return kNow; }
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds > 0 ? 1 : 0));
  }
  static constexpr TDateTime kNow = 46000.5;
};

// An engine whose analysis the test steers. Each analysis arrives at the
// analysis gate once per step; between steps it honours stop and pause as a
// real walk does. At the end it lists the volume's fragmented files (opened
// by path), so that the real pass has work, and leaves the state the script
// asks for.
class ScriptedEngine final : public TDefrag {
public:
  struct Script {
    int Steps = 1;
    Gate* AnalysisGate = nullptr;
    // Raised from the analysis instead of finishing it.
    std::optional<std::string> Failure;
    // The state an analysis leaves instead of dsAnalyzed.
    std::optional<uint8_t> EndState;
    // Arrived at once the analysis has stored its final state.
    Gate* EndGate = nullptr;
    // Short real sleeps between steps, for analyses that run until stopped.
    bool SleepPerStep = false;
  };

  ScriptedEngine(const std::string& volumeName, std::shared_ptr<VolumeDevice> device,
                 const EngineServices& services, const Script& script)
      : TDefrag(volumeName, std::move(device), services), Plan(script) {}

  void Analyze(uint8_t mode) override;
  Handle OpenFile(FILE_INFO& file) override;

  int AnalysisCount() const { return Analyses.load(); }
  std::vector<uint8_t> AnalysisModes() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Modes;
  }
  // The states the analysis saw at its check points, without repeats.
  std::vector<uint8_t> SeenStates() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Seen;
  }
  std::vector<uint32_t> ThrottleSeen() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Throttles;
  }
  bool RanAtIdlePriority() const { return IdlePriority.load(); }
  // Waits until the analysis has seen the state at one of its check points.
  bool WaitUntilSeen(uint8_t state) const;

private:
  void See(uint8_t state);

  Script Plan;
  std::atomic<int> Analyses{0};
  std::atomic<bool> IdlePriority{false};
  mutable std::mutex Lock;
  std::vector<uint8_t> Modes;
  std::vector<uint8_t> Seen;
  std::vector<uint32_t> Throttles;
};

// Hands out scripted engines, or real ones when asked.
class ScriptedFactory final : public EngineFactory {
public:
  explicit ScriptedFactory(ScriptedEngine::Script script = {}) : Plan(script) {}

  std::unique_ptr<TDefrag> CreateNtfs(const std::string& volumeName,
                                      std::shared_ptr<VolumeDevice> device,
                                      const EngineServices& services) override {
    Kinds.push_back("NTFS");
    return Make(volumeName, std::move(device), services);
  }
  std::unique_ptr<TDefrag> CreateFat(const std::string& volumeName,
                                     std::shared_ptr<VolumeDevice> device,
                                     const EngineServices& services) override {
    Kinds.push_back("FAT");
    return Make(volumeName, std::move(device), services);
  }

  std::vector<std::string> Kinds;
  ScriptedEngine* Last = nullptr;

private:
  std::unique_ptr<TDefrag> Make(const std::string& volumeName, std::shared_ptr<VolumeDevice> device,
                                const EngineServices& services) {
    auto engine = std::make_unique<ScriptedEngine>(volumeName, std::move(device), services, Plan);
    Last = engine.get();
    return engine;
  }

  ScriptedEngine::Script Plan;
};

// A volume that passes every call to a MemoryVolume, except that each move
// request first arrives at a gate, and the volume-information answer can be
// refused or renamed.
class GatedVolume final : public VolumeDevice {
public:
  explicit GatedVolume(std::shared_ptr<MemoryVolume> inner) : Inner(std::move(inner)) {}

  Gate Moves;
  std::atomic<bool> RefuseVolumeInformation{false};
  std::atomic<size_t> LastNameCapacity{0};

  Handle OpenVolume(const std::string& path) override { return Inner->OpenVolume(path); }
  bool GetGeometry(const std::string& root, DiskGeometry& out) override {
    return Inner->GetGeometry(root, out);
  }
  bool GetFreeSpace(const std::string& root, DiskFreeSpace& out) override {
    return Inner->GetFreeSpace(root, out);
  }
  bool GetVolumeInformation(const std::string& root, size_t capacity,
                            VolumeInformation& out) override {
    LastNameCapacity = capacity;
    if (RefuseVolumeInformation) return false;
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
    Moves.Arrive();
    return Inner->MoveFile(volume, data, iosb);
  }
  NtStatus GetNtfsVolumeData(Handle volume, NtfsVolumeDataBuffer& out) override {
    return Inner->GetNtfsVolumeData(volume, out);
  }
  NtStatus GetNtfsFileRecord(Handle volume, int64_t ref, NtfsFileRecordOutputBuffer& out) override {
    return Inner->GetNtfsFileRecord(volume, ref, out);
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
  void EndWriteSession() override { Inner->EndWriteSession(); }

private:
  std::shared_ptr<MemoryVolume> Inner;
};

// A volume of 4,096 clusters with a few directories, contiguous files and
// `fragmented` files of three extents of `extentClusters` each.
std::shared_ptr<MemoryVolume> MakeFragmentedVolume(int fragmented = 3, uint32_t extentClusters = 8,
                                                   const std::string& fileSystem = "FAT32",
                                                   const std::string& volumeName = "C:");

// Waits for the job to park, or fails the test.
void ExpectParks(const TDefragThread& job);

// Waits until the engine's state is `state`, or fails the test.
void ExpectStateSoon(const TDefragThread& job, uint8_t state);

// The error text a call raises ("" when it raises none).
std::string ErrorOf(const std::function<void()>& call);

} // namespace quillo::test
